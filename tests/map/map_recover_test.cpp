#include <gtest/gtest.h>

#include "map/map_recover.h"
#include "support/log_capture.h"
#include "support/map_builder.h"
#include "support/temp_dir.h"

namespace tabrescue {
namespace {

using MapRecoverTest = test::TempDirTest;

// Each class has its own count in the result's header, whatever the input's header said.
TEST_F(MapRecoverTest, HeaderCountsEachClass)
{
    using test::MapObject;
    test::writeText(dir() / "t.TAB", "!table\r\n");
    test::writeBytes(dir() / "t.ID", test::Bytes(28));
    test::MapBuilder()
        .put32(316, 99)
        .objectBlock({MapObject::of(0x01, 1), MapObject::of(0x04, 2), MapObject::of(0x05, 3),
                      MapObject::of(0x0D, 4), MapObject::of(0x13, 5), MapObject::of(0x19, 6),
                      MapObject::of(0x10, 0x40000007)})
        .write(dir() / "t.MAP");
    mapinfoTableFilesPull table;
    table.initByTABpath(path("t.TAB"));
    test::LogCapture cap;
    ASSERT_EQ(doDelMAP_ID_recover(table, &cap.log).count, 1) << cap.log.text();
    const test::Bytes map = test::readBytes(path("t#R_MAP.MAP"));
    EXPECT_EQ((std::vector<std::uint32_t>{test::getLE32(map, 316), test::getLE32(map, 320), test::getLE32(map, 324),
                                          test::getLE32(map, 328)}),
              (std::vector<std::uint32_t>{1, 2, 3, 1}));
}

} // namespace
} // namespace tabrescue
