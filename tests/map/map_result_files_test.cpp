#include <gtest/gtest.h>

#include "map/map_result_files.h"
#include "support/files.h"
#include "support/map_builder.h"
#include "table/recover_error.h"
#include "table/text_case.h"

namespace tabrescue {
namespace {

using test::Bytes;

// The template holds the closing row and a record count of 1.
Bytes expectedDatTemplate()
{
    Bytes b = test::expectedMapResultDat({});
    test::putLE32(b, 4, 1);
    return b;
}

TEST(MapResultFiles, DatTemplateParts)
{
    std::vector<std::byte> header, closing;
    doDAT_for_MAP_title(header, closing);
    ASSERT_EQ(header.size(), 161u);
    ASSERT_EQ(closing.size(), 18u);
    Bytes all = header;
    all.insert(all.end(), closing.begin(), closing.end());
    EXPECT_EQ(test::firstDifference(all, expectedDatTemplate()), "");
}

TEST(MapResultFiles, TemplateIsTheDumpText)
{
    EXPECT_EQ(countChars(MapDatTemplate), 708u); // eleven lines of 61 characters and one of 37
    EXPECT_EQ(MapDatTemplate.substr(0, 11), "0000000000:");
    EXPECT_EQ(MapDatTemplate.substr(MapDatTemplate.size() - 20),
              std::string_view("1A                \u00A6"));
}

// Widths count characters: a dump whose bar is one byte (single-byte code page) reads the same.
TEST(MapResultFiles, BarEncodingDoesNotMatter)
{
    std::string latin1;
    for (std::size_t i = 0; i < MapDatTemplate.size(); ++i) {
        if (MapDatTemplate.compare(i, 2, "\u00A6") == 0) {
            latin1 += '\xA6';
            ++i;
        } else {
            latin1 += MapDatTemplate[i];
        }
    }
    std::vector<std::byte> header, closing;
    doDAT_for_MAP_title(latin1, header, closing);
    Bytes all = header;
    all.insert(all.end(), closing.begin(), closing.end());
    EXPECT_EQ(test::firstDifference(all, expectedDatTemplate()), "");
}

TEST(MapResultFiles, BrokenDumps)
{
    struct Case
    {
        const char* name;
        std::string dump;
        int number;
    };
    const std::string dump(MapDatTemplate);
    const Case cases[] = {
        {"NoColon", "03 2A 1A", kErrProgramData},
        {"NoFinalEndMark", dump.substr(0, dump.find("1A    ")) + "1B", kErrProgramData},
        {"Empty", "", kErrProgramData},
        {"NoClosingRow", "0000000000: 0D 1A", kErrProgramData},
        {"NotHex", "0000000000: 0G 2A 1A", kErrInvalidCall},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::byte> header, closing;
        try {
            doDAT_for_MAP_title(c.dump, header, closing);
            ADD_FAILURE() << "no error";
        } catch (const RecoverError& e) {
            EXPECT_EQ(e.number(), c.number);
            if (c.number == kErrProgramData) {
                EXPECT_EQ(e.description(), "Unknown Error in Program Data");
            }
        }
    }
}

TEST(MapResultFiles, ClosingPartStartsAtLastStarOnAByteBoundary)
{
    // "A2 A1" holds the digits 2A across a byte boundary; only the byte 2A counts.
    std::vector<std::byte> header, closing;
    doDAT_for_MAP_title("0000000000: 2A 11 A2 A1 1A", header, closing);
    EXPECT_EQ(header, Bytes{});
    EXPECT_EQ(closing,
              (Bytes{std::byte{0x2A}, std::byte{0x11}, std::byte{0xA2}, std::byte{0xA1}, std::byte{0x1A}}));
}

TEST(MapResultFiles, HexToBytes)
{
    EXPECT_EQ(hexToBytes("0D2AFF"), (Bytes{std::byte{0x0D}, std::byte{0x2A}, std::byte{0xFF}}));
    EXPECT_EQ(hexToBytes("0d2aF"), (Bytes{std::byte{0x0D}, std::byte{0x2A}})); // a last odd digit is dropped
    EXPECT_EQ(hexToBytes(""), Bytes{});
    EXPECT_THROW(hexToBytes("0x"), RecoverError);
}

TEST(MapResultFiles, TabText)
{
    const std::string text = makeMapResultTabText();
    EXPECT_EQ(text, "!table\r\n!version 650\r\n!charset WindowsCyrillic\r\n\r\nDefinition Table\r\n"
                    "  Type NATIVE Charset \"WindowsCyrillic\"\r\n  Fields 4\r\n    RowId_new Integer ;\r\n"
                    "    RowId_old Integer ;\r\n    rec_map_offset Integer ;\r\n    rec_status Char (4) ;");
    EXPECT_EQ(text.size(), 226u);
}

} // namespace
} // namespace tabrescue
