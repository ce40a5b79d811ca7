#include <gtest/gtest.h>

#include "dat/dat_count.h"
#include "map/map_count.h"
#include "support/files.h"
#include "synthetic_table.h"

namespace tabrescue {
namespace {

using SyntheticTableTest = test::TempDirTest;

// The core reads a generated table and counts the rows and objects the generator says it deleted.
TEST_F(SyntheticTableTest, CoreCountsWhatWasDeleted)
{
    const bench::TableSummary sum = bench::writeSyntheticTable(test::utf8(dir()), "t", {.rows = 3000});
    ASSERT_GT(sum.deletedObjects, sum.deletedRows);
    EXPECT_EQ(getDelDATcount(path("t.DAT"), nullptr), static_cast<std::int32_t>(sum.deletedRows));
    EXPECT_EQ(getDelMAPcount(path("t.MAP"), nullptr), static_cast<std::int32_t>(sum.deletedObjects));
}

} // namespace
} // namespace tabrescue
