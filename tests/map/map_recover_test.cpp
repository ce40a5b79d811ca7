#include <gtest/gtest.h>

#include "base/recover_error.h"
#include "map/map_recover.h"
#include "map/map_result_files.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/map_builder.h"

namespace tabrescue {
namespace {

using MapRecoverTest = test::MemoryDirTest;

// Each class has its own count in the result's header, whatever the input's header said.
TEST_F(MapRecoverTest, HeaderCountsEachClass)
{
    using O = test::MapObject;
    test::writeText(dir() / "t.TAB", "!table\r\n");
    test::writeBytes(dir() / "t.ID", test::Bytes(28));
    test::MapBuilder().put32(316, 99).objectBlock({O::of(1, 1), O::of(4, 2), O::of(5, 3), O::of(0x0D, 4),
        O::of(0x13, 5), O::of(0x19, 6), O::of(0x10, 0x40000007)}).write(dir() / "t.MAP");
    mapinfoTableFilesPull table;
    table.initByTABpath(path("t.TAB"));
    test::LogCapture cap;
    ASSERT_EQ(doDelMAP_ID_recover(table, &cap.log).count, 1) << cap.log.text();
    const test::Bytes map = test::readBytes(path("t#R_MAP.MAP"));
    std::vector<std::uint32_t> counts; // points, lines, regions, texts
    for (std::size_t at = 316; at <= 328; at += 4)
        counts.push_back(test::getLE32(map, at));
    EXPECT_EQ(counts, (std::vector<std::uint32_t>{1, 2, 3, 1}));
}

// The result .DAT's header comes from a dump kept in the program; a damaged dump is the program's
// own fault (99999), a bad digit an invalid call.
TEST(MapResultFiles, BrokenDumps)
{
    const std::string dump(MapDatTemplate);
    const std::pair<std::string, int> cases[] = {
        {"03 2A 1A", kErrProgramData}, // no colon
        {dump.substr(0, dump.find("1A    ")) + "1B", kErrProgramData},
        {"", kErrProgramData},
        {"0000000000: 0D 1A", kErrProgramData}, // no closing row
        {"0000000000: 0G 2A 1A", kErrInvalidCall}};
    for (const auto& [text, number] : cases) {
        std::vector<std::byte> header, closing;
        try {
            doDAT_for_MAP_title(text, header, closing);
            ADD_FAILURE() << "no error: " << text;
        } catch (const RecoverError& e) {
            EXPECT_EQ(e.number(), number) << text;
        }
    }
    // The closing part starts at the last byte 2A; "A2 A1" holds the digits 2A across two bytes.
    std::vector<std::byte> header, closing;
    doDAT_for_MAP_title("0000000000: 2A 11 A2 A1 1A", header, closing);
    EXPECT_TRUE(header.empty());
    EXPECT_EQ(closing, hexToBytes("2A11A2A11A"));
    EXPECT_EQ(hexToBytes("0d2AF"), (test::Bytes{std::byte{0x0D}, std::byte{0x2A}})); // a last odd digit is dropped
}

} // namespace
} // namespace tabrescue
