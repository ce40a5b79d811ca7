#include <gtest/gtest.h>

#include <map>
#include <set>

#include "map/map_block_walk.h"
#include "map/map_layout.h"
#include "support/log_capture.h"

namespace tabrescue {
namespace {

using map::GeoClass;
using map::StyleLimit;

struct Listed
{
    std::uint8_t code;
    std::int16_t length;
    const char* name;
};

const Listed kListed[] = {
    {0x00, 5, "NoGeometry"},
    {0x01, 10, "ShortPoint"},
    {0x02, 14, "LongPoint"},
    {0x04, 14, "ShortLine"},
    {0x05, 22, "LongLine"},
    {0x07, 34, "ShortPolyline"},
    {0x08, 38, "LongPolyline"},
    {0x0A, 26, "ShortArc"},
    {0x0B, 42, "LongArc"},
    {0x0D, 37, "ShortRegion"},
    {0x0E, 41, "LongRegion"},
    {0x10, 39, "ShortText"},
    {0x11, 53, "LongText"},
    {0x13, 15, "ShortRectangle"},
    {0x14, 23, "LongRectangle"},
    {0x16, 19, "ShortRoundRectangle"},
    {0x17, 31, "LongRoundRectangle"},
    {0x19, 15, "ShortEllipse"},
    {0x1A, 23, "LongEllipse"},
    {0x26, 40, "LongPolyline N-Segments"},
    {0x25, 36, "ShortPolyline N-Segments"},
    {0x28, 22, "ShortFontSymbol"},
    {0x29, 26, "LongFontSymbol"},
    {0x2B, 13, "ShortCustomSymbol"},
    {0x2C, 17, "LongCustomSymbol"},
    {0x2E, 37, "ShortRegion V450"},
    {0x2F, 41, "LongRegion V450"},
    {0x31, 36, "ShortPolyline N-Segments V450"},
    {0x32, 40, "LongPolyline N-Segments V450"},
    {0x34, 50, "ShortMultiPoint"},
    {0x35, 54, "LongMultiPoint"},
    {0x37, 61, "ShortCollection"},
    {0x38, 61, "LongCollection"},
    {0x3D, 72, "ShortRegion V800"},
    {0x3E, 76, "LongRegion V800"},
    {0x40, 71, "ShortPolyline N-Segments V800"},
    {0x41, 75, "LongPolyline N-Segments V800"},
    {0x43, 83, "ShortMultiPoint V800"},
    {0x44, 87, "LongMultiPoint V800"},
    {0x46, 66, "ShortCollection V800"},
    {0x47, 66, "LongCollection V800"},
};

std::string hex(unsigned code)
{
    std::string s;
    map::appendHex(s, code);
    return s;
}

GeoClass expectedClass(unsigned c)
{
    if (c >= 1 && c <= 3)
        return GeoClass::Point;
    if (c >= 4 && c <= 0x0C)
        return GeoClass::Line;
    if ((c >= 0x0D && c <= 0x0F) || (c >= 0x13 && c <= 0x1B))
        return GeoClass::Area;
    if (c >= 0x10 && c <= 0x12)
        return GeoClass::Text;
    return GeoClass::None;
}

TEST(GeoTypes, EveryCodeHasItsLengthNameAndClass)
{
    std::map<unsigned, Listed> listed;
    for (const Listed& l : kListed)
        listed[l.code] = l;
    for (unsigned c = 0; c < 256; ++c) {
        SCOPED_TRACE("code " + hex(c));
        const auto code = static_cast<std::uint8_t>(c);
        test::LogCapture cap;
        const std::int16_t length = getGeoTypeLength(code, &cap.log, 1044);
        EXPECT_EQ(map::geoType(code).geoClass, expectedClass(c));
        if (auto it = listed.find(c); it != listed.end()) {
            EXPECT_EQ(length, it->second.length);
            EXPECT_EQ(getGeoTypeName(code), it->second.name);
            EXPECT_TRUE(cap.lines().empty());
        } else {
            EXPECT_EQ(length, 0);
            EXPECT_EQ(getGeoTypeName(code), "Unknown Type(&H" + hex(c) + ")");
            EXPECT_EQ(cap.lines(),
                      std::vector<std::string>{
                          "!!! Found unknown element type: offset: 00001044 element: &H" + hex(c)});
        }
    }
}

TEST(GeoTypes, UnknownElementLineShowsOffsetAndCode)
{
    test::LogCapture cap;
    EXPECT_EQ(getGeoTypeLength(0xFF, &cap.log, 2068), 0);
    EXPECT_EQ(getGeoTypeLength(0x03, &cap.log, 123456789), 0);
    EXPECT_EQ(cap.lines(),
              (std::vector<std::string>{"!!! Found unknown element type: offset: 00002068 element: &HFF",
                                        "!!! Found unknown element type: offset: 123456789 element: &H3"}));
    EXPECT_EQ(getGeoTypeName(0xFF), "Unknown Type(&HFF)");
    EXPECT_EQ(getGeoTypeLength(0x1D, nullptr, 0), 0);
}

// Where the recovery looks for style indexes, counted back from the record's last byte.
TEST(GeoTypes, StyleBytesByClass)
{
    using Styles = std::set<std::pair<int, StyleLimit>>;
    auto styles = [](std::uint8_t code) {
        Styles s;
        const map::GeoType& t = map::geoType(code);
        for (std::size_t i = 0; i < t.styleCount; ++i)
            s.insert({t.styles[i].beforeLast, t.styles[i].limit});
        return s;
    };
    EXPECT_EQ(styles(0x01), (Styles{{0, StyleLimit::Symbol}}));
    EXPECT_EQ(styles(0x0B), (Styles{{0, StyleLimit::Pen}}));
    EXPECT_EQ(styles(0x0E), (Styles{{0, StyleLimit::Brush}, {1, StyleLimit::Pen}}));
    EXPECT_EQ(styles(0x1A), (Styles{{0, StyleLimit::Brush}, {1, StyleLimit::Pen}}));
    EXPECT_EQ(styles(0x10), (Styles{{9, StyleLimit::Font}, {0, StyleLimit::Pen}}));
    EXPECT_EQ(styles(0x11), (Styles{{17, StyleLimit::Font}, {0, StyleLimit::Pen}}));
    for (std::uint8_t none : {0x00, 0x03, 0x12, 0x1B, 0x26, 0x25, 0x47, 0xFF})
        EXPECT_TRUE(styles(none).empty()) << hex(none);
}

} // namespace
} // namespace tabrescue
