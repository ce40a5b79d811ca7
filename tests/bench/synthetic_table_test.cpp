#include <gtest/gtest.h>

#include "dat/dat_count.h"
#include "map/map_count.h"
#include "map/map_recover.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "synthetic_table.h"
#include "table/table_files.h"

namespace tabrescue {
namespace {

using SyntheticTableTest = test::TempDirTest;

// The core reads a generated table and finds what the generator says it holds.
TEST_F(SyntheticTableTest, CoreFindsWhatWasWritten)
{
    bench::TableRecipe recipe;
    recipe.rows = 3000;
    const bench::TableSummary sum = bench::writeSyntheticTable(test::utf8(dir()), "t", recipe);
    ASSERT_GT(sum.deletedObjects, sum.deletedRows);
    EXPECT_EQ(getDelDATcount(path("t.DAT"), nullptr), static_cast<std::int32_t>(sum.deletedRows));
    EXPECT_EQ(getDelMAPcount(path("t.MAP"), nullptr), static_cast<std::int32_t>(sum.deletedObjects));
    mapinfoTableFilesPull table;
    table.initByTABpath(sum.tabPath);
    EXPECT_EQ(doDelMAP_ID_recover(table, nullptr).count, static_cast<std::int32_t>(sum.deletedObjects));
    const test::Bytes map = test::readBytes(dir() / "t#R_MAP.MAP");
    for (std::size_t c = 0; c < 4; ++c)
        EXPECT_EQ(test::getLE32(map, 316 + 4 * c), sum.classCounts[c]) << "class " << c;
}

} // namespace
} // namespace tabrescue
