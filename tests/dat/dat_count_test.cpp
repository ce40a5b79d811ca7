#include <gtest/gtest.h>

#include "dat/dat_count.h"
#include "support/log_capture.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"

namespace tabrescue {
namespace {

using DatCountTest = test::TempDirTest;

// The count reads one slot past the claimed rows and stops at the end mark, wherever it stands.
TEST_F(DatCountTest, ClaimedRowsAndEndMarkBoundTheCount)
{
    const struct {
        test::DatBuilder dat;
        std::int32_t deleted;
    } cases[] = {
        {test::DatBuilder().field("A", 1).rows("* *").recordCount(2).endMark(false), 2},
        {test::DatBuilder().field("A", 1).rows("* *").recordCount(1).endMark(false), 1},
        {test::DatBuilder().field("A", 1).rows("*").recordCount(3).trailing({std::byte{' '}, std::byte{'*'}}), 1},
    };
    for (const auto& c : cases) {
        c.dat.write(dir() / "t.DAT");
        test::LogCapture cap;
        bool failed = true;
        EXPECT_EQ(getDelDATcount(path("t.DAT"), &cap.log, &failed), c.deleted);
        EXPECT_FALSE(failed) << cap.log.text();
    }
}

} // namespace
} // namespace tabrescue
