#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "base/recover_error.h"
#include "base/text_format.h"
#include "io/file_system.h"
#include "io/platform.h"
#include "map/map_block_walk.h"
#include "map/map_count.h"
#include "map/map_layout.h"
#include "map/map_object_types.h"
#include "support/log_capture.h"
#include "support/map_builder.h"
#include "support/temp_dir.h"

namespace tabrescue {
namespace {

using test::Bytes;
using test::MapBuilder;
using test::MapObject;
using Lines = std::vector<std::string>;

std::string hex(unsigned v)
{
    std::string s;
    appendHex(s, v);
    return s;
}

// "code length name" of every code the table lists; every other code is unknown.
const std::string kListed =
    "00 5 NoGeometry|01 10 ShortPoint|02 14 LongPoint|04 14 ShortLine|05 22 LongLine|"
    "07 34 ShortPolyline|08 38 LongPolyline|0A 26 ShortArc|0B 42 LongArc|0D 37 ShortRegion|"
    "0E 41 LongRegion|10 39 ShortText|11 53 LongText|13 15 ShortRectangle|14 23 LongRectangle|"
    "16 19 ShortRoundRectangle|17 31 LongRoundRectangle|19 15 ShortEllipse|1A 23 LongEllipse|"
    "25 36 ShortPolyline N-Segments|26 40 LongPolyline N-Segments|28 22 ShortFontSymbol|"
    "29 26 LongFontSymbol|2B 13 ShortCustomSymbol|2C 17 LongCustomSymbol|2E 37 ShortRegion V450|"
    "2F 41 LongRegion V450|31 36 ShortPolyline N-Segments V450|32 40 LongPolyline N-Segments V450|"
    "34 50 ShortMultiPoint|35 54 LongMultiPoint|37 61 ShortCollection|38 61 LongCollection|"
    "3D 72 ShortRegion V800|3E 76 LongRegion V800|40 71 ShortPolyline N-Segments V800|"
    "41 75 LongPolyline N-Segments V800|43 83 ShortMultiPoint V800|44 87 LongMultiPoint V800|"
    "46 66 ShortCollection V800|47 66 LongCollection V800";

std::map<unsigned, std::pair<std::int16_t, std::string>> listed()
{
    std::map<unsigned, std::pair<std::int16_t, std::string>> out;
    std::istringstream in(kListed);
    for (std::string item; std::getline(in, item, '|');) {
        std::istringstream fields(item);
        unsigned code = 0;
        fields >> std::hex >> code >> std::dec >> out[code].first >> std::ws;
        std::getline(fields, out[code].second);
    }
    return out;
}

map::GeoClass expectedClass(unsigned c)
{
    if (c >= 1 && c <= 3)
        return map::GeoClass::Point;
    if (c >= 4 && c <= 0x0C)
        return map::GeoClass::Line;
    if ((c >= 0x0D && c <= 0x0F) || (c >= 0x13 && c <= 0x1B))
        return map::GeoClass::Area;
    return c >= 0x10 && c <= 0x12 ? map::GeoClass::Text : map::GeoClass::None;
}

TEST(GeoTypes, EveryCodeHasItsLengthNameAndClass)
{
    const auto names = listed();
    ASSERT_EQ(names.size(), 41u);
    for (unsigned c = 0; c < 256; ++c) {
        SCOPED_TRACE("code " + hex(c));
        const auto code = static_cast<std::uint8_t>(c);
        const auto it = names.find(c);
        const bool known = it != names.end();
        const std::string unknownLine =
            "!!! Found unknown element type: offset: 00001044 element: &H" + hex(c);
        test::LogCapture cap;
        EXPECT_EQ(getGeoTypeLength(code, &cap.log, 1044), known ? it->second.first : 0);
        EXPECT_EQ(cap.lines(), known ? Lines{} : Lines{unknownLine});
        EXPECT_EQ(getGeoTypeName(code), known ? it->second.second : "Unknown Type(&H" + hex(c) + ")");
        EXPECT_EQ(map::geoType(code).geoClass, expectedClass(c));
    }
    test::LogCapture cap;
    getGeoTypeLength(0xFF, &cap.log, 2068);
    getGeoTypeLength(0x03, &cap.log, 123456789);
    EXPECT_EQ(cap.lines(), (Lines{"!!! Found unknown element type: offset: 00002068 element: &HFF",
                                  "!!! Found unknown element type: offset: 123456789 element: &H3"}));
}

const std::string kError = "+++ mapinfoRecoverTable::getDelMAPcount()+++ ";
const std::string kAbandon9 = " *: RowId := 9 unknow data type - unknow binary length ALL objects in current "
                              "'ODBlock' are ignored! Goto Next 'ODBlock'.";
const std::string kDamaged1024 = "!!! Damaged 'ODBlock' at offset: 00001024 objects run past the end of the "
                                 "block; the rest of it is ignored.";
const MapObject kRegion = MapObject::of(0x0E, 0x40000007);
const MapObject kPoint = MapObject::of(0x01, 1);
const MapObject kDeletedPoint = MapObject::of(0x01, 0x40000001);

// The never-shown listing line of one record, and of `n` like records back to back.
std::string listed(std::uint64_t offset, unsigned code, std::uint32_t row, bool deleted = false)
{
    std::string at = std::to_string(offset);
    at.insert(0, 8 - std::min<std::size_t>(8, at.size()), '0');
    return (deleted ? " D: RowId := " : "  : RowId := ") + std::to_string(row) + " MAP file offset := " + at +
           " geoType := &H" + hex(code) + " (" + getGeoTypeName(static_cast<std::uint8_t>(code)) + ")";
}

Lines listed(std::uint64_t offset, int n, int length, unsigned code, std::uint32_t row, bool deleted = false)
{
    Lines out;
    for (int i = 0; i < n; ++i)
        out.push_back(listed(offset + static_cast<std::uint64_t>(i * length), code, row, deleted));
    return out;
}

Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(MapCountListing, LineFormat)
{
    EXPECT_EQ(listed(1044, 0x0E, 7, true),
              " D: RowId := 7 MAP file offset := 00001044 geoType := &HE (LongRegion)");
    EXPECT_EQ(listed(1085, 0xFF, 12),
              "  : RowId := 12 MAP file offset := 00001085 geoType := &HFF (Unknown Type(&HFF))");
}

struct CountCase
{
    const char* name;
    MapBuilder map;
    std::int32_t count;
    Lines listing;
    Lines lines; // of the log pane; a failure's boundary line comes last
    bool unreadable;
    friend void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }
};

CountCase cc(const char* name, MapBuilder map, std::int32_t count, Lines listing, Lines lines = {},
             bool unreadable = false)
{
    return {name, std::move(map), count, std::move(listing), std::move(lines), unreadable};
}

class MapCountTest : public test::TempDirTest, public ::testing::WithParamInterface<CountCase>
{
};

// The walk as the count sees it: every record it meets is listed, the file is never changed.
TEST_P(MapCountTest, WalksBlocksAndCountsDeletedObjects)
{
    const CountCase& c = GetParam();
    c.map.write(path("t.MAP"));
    if (c.unreadable)
        platform::setFaultHook([](platform::Call call, const std::string&) {
            if (call == platform::Call::Read)
                throw RecoverError(70, "Permission denied");
            return platform::Fault{};
        });
    test::LogCapture cap;
    bool failed = false;
    EXPECT_EQ(getDelMAPcount(path("t.MAP"), &cap.log, &failed), c.count);
    platform::setFaultHook(nullptr);
    EXPECT_EQ(cap.listing, c.listing);
    EXPECT_EQ(cap.lines(), c.lines);
    EXPECT_EQ(failed, !c.lines.empty() && c.lines.back().starts_with("+++"));
    EXPECT_EQ(test::readBytes(path("t.MAP")), c.map.bytes());
}

std::vector<CountCase> countCases()
{
    const std::vector<MapObject> twelveRegions(12, kRegion); // 492 bytes
    const Lines regions = listed(1044, 12, 41, 0x0E, 7, true);
    const Lines nextPoint = {listed(1556, 0x01, 1)};
    Bytes nullsThenUnknownAt510(511); // NoGeometry records at 20, 25, ... 505; used claims up to 520
    test::putLE16(nullsThenUnknownAt510, 1, 500);
    nullsThenUnknownAt510[509] = std::byte{0x1D};
    return {cc("CutHeader", MapBuilder().truncateTo(200), 0, {}),
            cc("Exactly1024Bytes", MapBuilder().objectBlock({kRegion}).truncateTo(1024), 0, {}),
            cc("UsedZero", MapBuilder().objectBlock({kRegion}, 0), 0, {}),
            cc("UsedNegative", MapBuilder().objectBlock({kRegion}, -5), 0, {}),
            cc("Used41HoldsOneRegion", MapBuilder().objectBlock({kRegion, kRegion}, 41), 1, {regions[0]}),
            // A record that starts inside the area is read whole.
            cc("RecordStartingInsideArea",
               MapBuilder().objectBlock({MapObject::of(0x00, 3), kPoint, kRegion}, 16), 1,
               {listed(1044, 0x00, 3), listed(1049, 0x01, 1), listed(1059, 0x0E, 7, true)}),
            cc("OtherBlocksQuiet", MapBuilder().block(0x01).block(0x04).block(0x03).block(0xFF), 0, {}),
            cc("EitherBitMarksDeleted",
               MapBuilder().objectBlock({kPoint, MapObject::of(0x0E, 0x40000002),
                                         MapObject::of(0x05, 0x80000003), MapObject::of(0x26, 0xC0000004)}),
               3,
               {listed(1044, 0x01, 1), listed(1054, 0x0E, 2, true), listed(1095, 0x05, 3, true),
                listed(1117, 0x26, 4, true)}),
            cc("UnknownTypeEndsItsBlockOnly",
               MapBuilder()
                   .objectBlock(
                       {MapObject::of(0x01, 4), MapObject::raw(0x1D, 0x40000009, Bytes(20)), kDeletedPoint})
                   .objectBlock({MapObject::of(0x01, 0x40000011)}),
               2, {listed(1044, 0x01, 4), listed(1054, 0x1D, 9, true), listed(1556, 0x01, 17, true)},
               {"!!! Found unknown element type: offset: 00001054 element: &H1D", kAbandon9}),
            // used 600 claims bytes of the next block, which is walked on its own.
            cc("UsedBeyondTheBlock", MapBuilder().objectBlock(twelveRegions, 600).objectBlock({kPoint}), 12,
               regions + nextPoint, {kDamaged1024}),
            cc("RecordCrossingTheBlockEnd",
               MapBuilder().objectBlock(std::vector(10, MapObject::of(0x11, 2)), 530).objectBlock({kPoint}),
               0, listed(1044, 9, 53, 0x11, 2) + nextPoint, {kDamaged1024}),
            // Not even an unknown type byte is looked at when its header crosses the block's end.
            cc("HeaderAcrossBlockEnd", MapBuilder().block(0x02, nullsThenUnknownAt510).objectBlock({kPoint}),
               0, listed(1044, 98, 5, 0x00, 0) + nextPoint, {kDamaged1024}),
            // A cut last block: a record whose header lies in the file counts, one byte less and it does not.
            cc("TruncatedAfterRecordHeader",
               MapBuilder().objectBlock({kPoint, kRegion, kPoint}).truncateLastBlock(35), 1,
               {listed(1044, 0x01, 1), listed(1054, 0x0E, 7, true)}),
            cc("TruncatedInsideRecordHeader",
               MapBuilder().objectBlock({kPoint, kRegion}).truncateLastBlock(34), 0, {listed(1044, 0x01, 1)}),
            cc("TruncatedInsideBlockHeader", MapBuilder().objectBlock({kPoint}).truncateLastBlock(3), 0, {}),
            // The end of the file wins over the damage.
            cc("FullLastBlockUsedBeyond", MapBuilder().objectBlock(twelveRegions, 600), 12, regions),
            cc("HeaderWithoutMagicIsWalked",
               MapBuilder().put32(256, 0).blockSize(16384).objectBlock({kPoint}), 0, {listed(1044, 0x01, 1)}),
            cc("UsedAtTheLimit", MapBuilder().objectBlock({kDeletedPoint}, 32747), 1,
               Lines{listed(1044, 0x01, 1, true)} + listed(1054, 96, 5, 0x00, 0)),
            cc("UsedOverflowKeepsCountSoFar",
               MapBuilder().objectBlock({kDeletedPoint}).objectBlock({kPoint}, 32748), 1,
               {listed(1044, 0x01, 1, true)}, {kError + "6 Overflow"}),
            cc("BlockSizeRefused", MapBuilder().blockSize(16384).objectBlock({kDeletedPoint}), 0, {},
               {kError + "5 Unsupported .MAP block size 16384 (only 512 is supported)"}),
            cc("Unreadable", MapBuilder().objectBlock({kDeletedPoint}), 0, {},
               {kError + "70 Permission denied"}, true)};
}

INSTANTIATE_TEST_SUITE_P(Files, MapCountTest, ::testing::ValuesIn(countCases()),
                         [](const auto& i) { return std::string(i.param.name); });

// A missing file is no failure; one beyond 32-bit offsets is refused before reading.
TEST_F(MapCountTest, MissingOrTooLargeFile)
{
    test::LogCapture cap;
    bool failed = true;
    EXPECT_EQ(getDelMAPcount(path("none.MAP"), &cap.log, &failed), 0);
    EXPECT_FALSE(failed);
    MapBuilder().objectBlock({kDeletedPoint}).write(path("big.MAP"));
    std::filesystem::resize_file(path("big.MAP"), 2147483648ull); // sparse
    EXPECT_EQ(getDelMAPcount(path("big.MAP"), &cap.log), 0);
    EXPECT_EQ(cap.lines(), (Lines{"File '" + path("none.MAP") + "' was not  found.", kError + "6 Overflow"}));
}

// Flips the last byte of every record.
class Patcher : public map::BlockVisitor
{
  public:
    void record(const map::MapRecord& r, std::span<std::byte>) override
    {
        r.bytes.back() ^= std::byte{0xFF};
        patched.push_back(r.offset + r.bytes.size() - 1);
    }
    std::vector<std::uint64_t> patched;
};

// Whatever the chunk size, the walk meets the same records and writes the same lines, and its copy
// carries the visitor's changes and every other byte, also when the walk fails midway.
TEST_F(MapCountTest, ChunkedWalkAndCopy)
{
    MapBuilder mixed = MapBuilder().objectBlock({kPoint, kRegion}).block(0x04);
    mixed.objectBlock({kPoint, MapObject::raw(0x1D, 9, Bytes(30)), kPoint})
        .objectBlock(std::vector(12, kRegion), 600);
    mixed.objectBlock({kPoint}).objectBlock({kPoint, kRegion}).truncateLastBlock(37);
    MapBuilder overflow =
        MapBuilder().objectBlock({kPoint}).objectBlock({kPoint}).objectBlock({kPoint}, 32760);
    overflow.objectBlock({kPoint}).objectBlock({kPoint, kRegion});
    const auto walk = [&](const MapBuilder& m, std::size_t chunk, int error) {
        SCOPED_TRACE(chunk);
        test::writeBytes(path("in.MAP"), m.bytes());
        BinaryFile src = fileSystem().openRead(path("in.MAP"));
        BinaryFile dst = fileSystem().create(path("out.MAP"));
        test::LogCapture cap;
        Patcher patcher;
        try {
            map::walkBlocks(src, &cap.log, patcher, {.copyTo = &dst, .chunkSize = chunk});
            EXPECT_EQ(error, 0);
        } catch (const RecoverError& e) {
            EXPECT_EQ(e.number(), error);
        }
        dst.close();
        Bytes expected = m.bytes();
        for (std::uint64_t at : patcher.patched)
            expected[at] ^= std::byte{0xFF};
        EXPECT_EQ(test::firstDifference(test::readBytes(path("out.MAP")), expected), "");
        return std::pair{patcher.patched, cap.lines()};
    };
    const auto whole = walk(mixed, 1 << 20, 0);
    EXPECT_EQ(whole.first.size(), 19u);
    EXPECT_EQ(whole.second, (Lines{"!!! Found unknown element type: offset: 00002078 element: &H1D",
                                   "!!! Damaged 'ODBlock' at offset: 00002560 objects run past the end of "
                                   "the block; the rest of it is ignored."}));
    for (std::size_t chunk : {512, 1536})
        EXPECT_EQ(walk(mixed, chunk, 0), whole) << chunk;
    EXPECT_EQ(walk(overflow, 1024, 6), std::pair(std::vector<std::uint64_t>{1053, 1565}, Lines{}));
}

} // namespace
} // namespace tabrescue
