#include <gtest/gtest.h>

#include "map/map_recover.h"
#include "support/log_capture.h"
#include "support/map_builder.h"
#include "support/temp_dir.h"

namespace tabrescue {
namespace {

using test::Bytes;
using test::MapObject;

class MapRecoverTest : public test::TempDirTest
{
};

// An overflowing used count fails the recovery, yet the files beside the working copy hold
// everything written before it and the result .MAP is a whole copy, as copy-then-patch leaves it.
TEST_F(MapRecoverTest, OverflowLeavesFilesAsFarAsWritten)
{
    mapinfoTableFilesPull work;
    work.initByTABpath(test::writeMapTable(dir(), "~work",
                                           test::MapBuilder()
                                               .objectBlock({MapObject::of(0x01, 0x40000003)})
                                               .objectBlock({MapObject::of(0x01, 4)}, 32748)));
    const Bytes input = test::readBytes(path("~work.MAP"));
    test::LogCapture cap;
    EXPECT_EQ(doDelMAP_ID_recover(work, &cap.log).count, -1);
    EXPECT_EQ(cap.lines(),
              std::vector<std::string>{"+++ mapinfoRecoverTable::doDelMAP_ID_recover()+++ 6 Overflow"});
    Bytes map = input;
    test::putLE32(map, 1045, 1);
    EXPECT_EQ(test::firstDifference(test::readBytes(path("~work#R_MAP.MAP")), map), "");
    EXPECT_EQ(test::readBytes(path("~work#R_MAP.ID")), test::expectedMapResultId({{1044, 3, "D 01"}}));
    const Bytes dat = test::expectedMapResultDat({{1044, 3, "D 01"}});
    EXPECT_EQ(test::readBytes(path("~work#R_MAP.DAT")), Bytes(dat.begin(), dat.begin() + 161 + 17));
    EXPECT_FALSE(std::filesystem::exists(dir() / "~work#R_MAP.TAB"));
    EXPECT_EQ(test::readBytes(path("~work.MAP")), input);
}

} // namespace
} // namespace tabrescue
