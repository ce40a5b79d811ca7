#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tabrescue::map {

// Blocks. The walk always steps by 512; a header that announces another size is refused.
inline constexpr std::size_t kBlockSize = 512;
inline constexpr std::uint64_t kFirstWalkedBlock = 1024; // the header and the block after it are never walked
inline constexpr std::uint8_t kObjectDataBlock = 0x02;
inline constexpr std::uint8_t kHandRepairBlock = 0x04; // reported to the user, never read

// Object data block header.
inline constexpr std::size_t kUsedOffset = 2; // i16: bytes of records after the block header
inline constexpr std::size_t kObjectBlockHeaderSize = 20;
// used + 20 is formed in 16-bit signed arithmetic by the format's home program.
inline constexpr std::int16_t kMaxUsed = 32767 - 20;

// Object data block: the centre that short point, line and arc coordinates are relative to.
inline constexpr std::size_t kBlockCentreXOffset = 4; // i32
inline constexpr std::size_t kBlockCentreYOffset = 8; // i32

// Spatial index block: entries of a box (four i32) and the i32 offset of the block it bounds.
inline constexpr std::uint16_t kIndexBlock = 0x0001;     // u16 at 0
inline constexpr std::size_t kIndexEntryCountOffset = 2; // u16
inline constexpr std::size_t kIndexEntriesOffset = 4;
inline constexpr std::size_t kIndexEntrySize = 20;
inline constexpr std::size_t kIndexEntryChildOffset = 16;
inline constexpr std::size_t kIndexFanOut = 25;

// Object record.
inline constexpr std::size_t kRecordTypeOffset = 0;     // u8
inline constexpr std::size_t kRecordRowFieldOffset = 1; // u32
inline constexpr std::size_t kRecordHeaderSize = 5;
inline constexpr std::uint32_t kRowNumberMask = 0x3FFFFFFFu;
inline constexpr std::uint32_t kDeletionMask = 0xC0000000u;

constexpr bool isDeleted(std::uint32_t rowField)
{
    return (rowField & kDeletionMask) != 0;
}
constexpr std::uint32_t rowNumber(std::uint32_t rowField)
{
    return rowField & kRowNumberMask;
}

// File header (first block).
inline constexpr std::size_t kMagicOffset = 256; // i32
inline constexpr std::uint32_t kMagic = 42424242;
inline constexpr std::size_t kBlockSizeOffset = 262;     // u16, meaningful only with the magic number
inline constexpr std::size_t kHeaderBoxOffset = 272;     // four i32: XMin, YMin, XMax, YMax
inline constexpr std::size_t kIndexRootOffset = 304;     // i32: root of the spatial index, 0 for none
inline constexpr std::size_t kPointCountOffset = 316;    // i32
inline constexpr std::size_t kLineCountOffset = 320;     // i32
inline constexpr std::size_t kAreaCountOffset = 324;     // i32
inline constexpr std::size_t kTextCountOffset = 328;     // i32
inline constexpr std::size_t kIndexDepthOffset = 351;    // u8: index levels + 1, 0 for none
inline constexpr std::size_t kPenLimitOffset = 356;      // u8
inline constexpr std::size_t kBrushLimitOffset = 357;    // u8
inline constexpr std::size_t kSymbolLimitOffset = 358;   // u8
inline constexpr std::size_t kFontLimitOffset = 359;     // u8
inline constexpr std::size_t kRewrittenHeaderSize = 360; // every header byte read or rewritten lies below
inline constexpr std::size_t kBlockSizeCheckSize = kBlockSizeOffset + 2;

// Offsets in the .MAP and .ID files are 32-bit signed.
inline constexpr std::uint64_t kMaxFileSize = 2147483647u;

// .ID file: one i32 per row, the offset of its object record; no header.
inline constexpr std::size_t kIdEntrySize = 4;

// Rows of the geometry result's .DAT: status byte, RowId_new, RowId_old and rec_map_offset as
// i32, then the four rec_status characters.
inline constexpr std::size_t kResultRowSize = 17;
inline constexpr std::size_t kResultRowIdNewOffset = 1;
inline constexpr std::size_t kResultRowIdOldOffset = 5;
inline constexpr std::size_t kResultMapOffsetOffset = 9;
inline constexpr std::size_t kResultStatusOffset = 13;

enum class GeoClass : std::uint8_t { None, Point, Line, Area, Text };
enum class StyleLimit : std::uint8_t { Pen, Brush, Symbol, Font };

inline constexpr std::array<std::size_t, 4> kLimitOffsets = {kPenLimitOffset, kBrushLimitOffset,
                                                             kSymbolLimitOffset, kFontLimitOffset};

// A style index byte: `beforeLast` bytes before the record's last byte, checked against `limit`.
struct StyleByte
{
    std::uint8_t beforeLast = 0;
    StyleLimit limit = StyleLimit::Pen;
};

struct GeoType
{
    std::string_view name;                // empty: the code is not in the table
    std::int16_t length = 0;              // 0: no known length
    GeoClass geoClass = GeoClass::None;   // decides the style check
    GeoClass countClass = GeoClass::None; // decides the header count
    std::uint8_t styleCount = 0;
    std::array<StyleByte, 2> styles{};
};

namespace detail {

struct KnownType
{
    std::uint8_t code;
    std::int16_t length;
    std::string_view name;
};

// Codes the format's home program and GDAL write beyond the classic ones (0x25 onward) carry
// style class none: no style check. The header counts them by countClassOf.
inline constexpr KnownType kKnownTypes[] = {
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
    {0x25, 36, "ShortPolyline N-Segments"},
    {0x26, 40, "LongPolyline N-Segments"},
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

// Classes go by code range; the ranges include codes of unknown length (0x03 is a point).
constexpr GeoClass classOf(unsigned code)
{
    if (code >= 0x01 && code <= 0x03)
        return GeoClass::Point;
    if (code >= 0x04 && code <= 0x0C)
        return GeoClass::Line;
    if ((code >= 0x0D && code <= 0x0F) || (code >= 0x13 && code <= 0x1B))
        return GeoClass::Area;
    if (code >= 0x10 && code <= 0x12)
        return GeoClass::Text;
    return GeoClass::None;
}

// GDAL decides from the four header counts which geometries a table has, and counts in its writer
// the newer codes too; counting only the classic ranges would hide, say, a table of multi-polylines.
// Collections and codes outside every range count in none.
constexpr GeoClass countClassOf(unsigned code)
{
    switch (code) {
    case 0x28:
    case 0x29:
    case 0x2B:
    case 0x2C:
    case 0x34:
    case 0x35:
    case 0x43:
    case 0x44:
        return GeoClass::Point;
    case 0x25:
    case 0x26:
    case 0x31:
    case 0x32:
    case 0x40:
    case 0x41:
        return GeoClass::Line;
    case 0x2E:
    case 0x2F:
    case 0x3D:
    case 0x3E:
        return GeoClass::Area;
    default:
        return classOf(code);
    }
}

constexpr std::array<GeoType, 256> buildGeoTypes()
{
    std::array<GeoType, 256> t{};
    for (unsigned c = 0; c < 256; ++c) {
        t[c].geoClass = classOf(c);
        t[c].countClass = countClassOf(c);
    }
    for (const KnownType& k : kKnownTypes) {
        GeoType& g = t[k.code];
        g.name = k.name;
        g.length = k.length;
        switch (g.geoClass) {
        case GeoClass::Point:
            g.styleCount = 1;
            g.styles[0] = {0, StyleLimit::Symbol};
            break;
        case GeoClass::Line:
            g.styleCount = 1;
            g.styles[0] = {0, StyleLimit::Pen};
            break;
        case GeoClass::Area: // brush last, its pen just before
            g.styleCount = 2;
            g.styles[0] = {0, StyleLimit::Brush};
            g.styles[1] = {1, StyleLimit::Pen};
            break;
        case GeoClass::Text: // the font index sits before the label box; the last byte is the label line's
                             // pen
            g.styleCount = 2;
            g.styles[0] = {static_cast<std::uint8_t>(k.code == 0x10 ? 9 : 17), StyleLimit::Font};
            g.styles[1] = {0, StyleLimit::Pen};
            break;
        case GeoClass::None:
            break;
        }
    }
    return t;
}

} // namespace detail

// Indexed by type code.
inline constexpr std::array<GeoType, 256> kGeoTypes = detail::buildGeoTypes();

constexpr bool unknownLengthsHaveNoStyles()
{
    for (const GeoType& t : kGeoTypes)
        if (t.length == 0 && t.styleCount != 0)
            return false;
    return true;
}
static_assert(unknownLengthsHaveNoStyles(), "a record without a known length has no last byte");

constexpr const GeoType& geoType(std::uint8_t code)
{
    return kGeoTypes[code];
}

} // namespace tabrescue::map
