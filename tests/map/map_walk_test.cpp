#include <gtest/gtest.h>

#include "map/map_block_walk.h"
#include "map/map_layout.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/map_builder.h"
#include "support/temp_dir.h"
#include "table/file_system.h"
#include "table/recover_error.h"

namespace tabrescue {
namespace {

using test::Bytes;
using test::MapBuilder;
using test::MapObject;

std::string endName(map::BlockEnd e)
{
    switch (e) {
    case map::BlockEnd::Complete:
        return "complete";
    case map::BlockEnd::UnknownType:
        return "unknown";
    case map::BlockEnd::Damaged:
        return "damaged";
    case map::BlockEnd::EndOfFile:
        return "eof";
    }
    return "?";
}

// Writes what the walk reports as one text per event.
class Recorder : public map::BlockVisitor
{
  public:
    std::vector<std::string> events;

    void objectBlock(std::uint64_t offset, std::span<std::byte> block) override
    {
        events.push_back("block " + std::to_string(offset) + " size " + std::to_string(block.size()));
    }
    void record(const map::MapRecord& r, std::span<std::byte> /*block*/) override
    {
        std::string s = "rec " + std::to_string(r.offset) + " &H";
        map::appendHex(s, r.code);
        s += " len " + std::to_string(r.length) + " row &H";
        map::appendHex(s, r.rowField);
        s += " bytes " + std::to_string(r.bytes.size());
        events.push_back(s);
    }
    void objectBlockEnd(std::uint64_t offset, std::span<std::byte> /*block*/, map::BlockEnd how) override
    {
        events.push_back("end " + std::to_string(offset) + " " + endName(how));
    }
    void otherBlock(std::uint64_t offset, std::uint8_t type) override
    {
        events.push_back("other " + std::to_string(offset) + " type " + std::to_string(type));
    }
};

using Events = std::vector<std::string>;

const MapObject kRegion = MapObject::of(0x0E, 0x40000007);
const MapObject kPoint = MapObject::of(0x01, 1);
const MapObject kUnknown = MapObject::raw(0x1D, 0x40000009, Bytes(30, std::byte{0xEE}));

struct WalkCase
{
    const char* name;
    MapBuilder map;
    Events events;
    std::vector<std::string> lines; // of the log pane
};

void PrintTo(const WalkCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::string kDamaged1024 = "!!! Damaged 'ODBlock' at offset: 00001024 objects run past the end of the "
                                 "block; the rest of it is ignored.";

// Events of `n` records of one kind, back to back from `offset`.
Events records(std::uint64_t offset, int n, const std::string& kind, int length)
{
    Events e;
    for (int i = 0; i < n; ++i, offset += static_cast<std::uint64_t>(length))
        e.push_back("rec " + std::to_string(offset) + " " + kind);
    return e;
}

Events join(std::initializer_list<Events> parts)
{
    Events all;
    for (const Events& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

const std::string kRegionEvent = "&HE len 41 row &H40000007 bytes 41";
const Events kPointBlock1536 = {"block 1536 size 512", "rec 1556 &H1 len 10 row &H1 bytes 10",
                                "end 1536 complete"};

Bytes nullRecordsThenUnknownAt510()
{
    Bytes b(511, std::byte{0}); // content after the type byte: NoGeometry records at 20, 25, ... 505
    test::putLE16(b, 1, 500);   // used 500: the area claims up to offset 520
    b[509] = std::byte{0x1D};
    return b;
}

std::vector<WalkCase> walkCases()
{
    const std::vector<MapObject> fullBlock(12, kRegion);      // 492 bytes
    std::vector<MapObject> texts(10, MapObject::of(0x11, 2)); // the tenth runs past offset 512
    Events onlyFirst = {"block 1024 size 512", "end 1024 complete"};
    return {
        {"NoBlocksBeyondTheHeader", MapBuilder(), {}, {}},
        {"CutHeader", MapBuilder().truncateTo(200), {}, {}},
        {"Exactly1024Bytes", MapBuilder().objectBlock({kRegion}).truncateTo(1024), {}, {}},
        {"UsedZero", MapBuilder().objectBlock({kRegion}, 0), onlyFirst, {}},
        {"UsedNegative", MapBuilder().objectBlock({kRegion}, -5), onlyFirst, {}},
        {"Used41HoldsOneRegion",
         MapBuilder().objectBlock({kRegion, kRegion}, 41),
         join({{"block 1024 size 512"}, records(1044, 1, kRegionEvent, 41), {"end 1024 complete"}}),
         {}},
        // The end test looks at where a record starts: one starting inside the area is read whole.
        {"RecordStartingInsideAreaIsReadWhole",
         MapBuilder().objectBlock({MapObject::of(0x00, 3), kPoint, kRegion}, 16),
         {"block 1024 size 512", "rec 1044 &H0 len 5 row &H3 bytes 5", "rec 1049 &H1 len 10 row &H1 bytes 10",
          "rec 1059 " + kRegionEvent, "end 1024 complete"},
         {}},
        {"OtherBlocksReportedOnly",
         MapBuilder().block(0x01).block(0x04).block(0x03).block(0xFF),
         {"other 1024 type 1", "other 1536 type 4", "other 2048 type 3", "other 2560 type 255"},
         {}},
        {"UnknownTypeEndsItsBlockOnly",
         MapBuilder().objectBlock({kPoint, kUnknown, kPoint}).objectBlock({kPoint}),
         join({{"block 1024 size 512", "rec 1044 &H1 len 10 row &H1 bytes 10",
                "rec 1054 &H1D len 0 row &H40000009 bytes 5", "end 1024 unknown"},
               kPointBlock1536}),
         {"!!! Found unknown element type: offset: 00001054 element: &H1D"}},
        // used 600: the area claims bytes of the next block, which is walked on its own.
        {"UsedBeyondTheBlock",
         MapBuilder().objectBlock(fullBlock, 600).objectBlock({kPoint}),
         join({{"block 1024 size 512"},
               records(1044, 12, kRegionEvent, 41),
               {"end 1024 damaged"},
               kPointBlock1536}),
         {kDamaged1024}},
        {"RecordCrossingTheBlockEnd",
         MapBuilder().objectBlock(texts, 530).objectBlock({kPoint}),
         join({{"block 1024 size 512"},
               records(1044, 9, "&H11 len 53 row &H2 bytes 53", 53),
               {"end 1024 damaged"},
               kPointBlock1536}),
         {kDamaged1024}},
        // Even an unknown type byte is not looked at when its header crosses into the next block.
        {"HeaderAcrossBlockEnd",
         MapBuilder().block(0x02, nullRecordsThenUnknownAt510()).objectBlock({kPoint}),
         join({{"block 1024 size 512"},
               records(1044, 98, "&H0 len 5 row &H0 bytes 5", 5),
               {"end 1024 damaged"},
               kPointBlock1536}),
         {kDamaged1024}},
        // A cut last block: a record whose header lies in the file is read as far as the file goes.
        {"TruncatedInsideRecordBody",
         MapBuilder().objectBlock({kPoint, kRegion, kPoint}).truncateLastBlock(40),
         {"block 1024 size 40", "rec 1044 &H1 len 10 row &H1 bytes 10",
          "rec 1054 &HE len 41 row &H40000007 bytes 10", "end 1024 eof"},
         {}},
        {"TruncatedInsideRecordHeader",
         MapBuilder().objectBlock({kPoint, kRegion}).truncateLastBlock(33),
         {"block 1024 size 33", "rec 1044 &H1 len 10 row &H1 bytes 10", "end 1024 eof"},
         {}},
        {"TruncatedInsideBlockHeader",
         MapBuilder().objectBlock({kPoint}).truncateLastBlock(3),
         {"block 1024 size 3", "end 1024 eof"},
         {}},
        // A full last block whose used runs past it: the end of the file wins over the damage.
        {"FullLastBlockUsedBeyond",
         MapBuilder().objectBlock(fullBlock, 600),
         join({{"block 1024 size 512"}, records(1044, 12, kRegionEvent, 41), {"end 1024 eof"}}),
         {}},
        {"HeaderWithoutMagicIsWalked",
         MapBuilder().noMagic().blockSize(16384).objectBlock({kPoint}),
         {"block 1024 size 512", "rec 1044 &H1 len 10 row &H1 bytes 10", "end 1024 complete"},
         {}},
    };
}

class WalkTest : public test::TempDirTest,
                 public ::testing::WithParamInterface<std::tuple<WalkCase, std::size_t>>
{
};

// Every case walks alike whatever the chunk size, so block handling never depends on where
// a read ends.
TEST_P(WalkTest, ReportsBlocksAndRecords)
{
    const auto& [c, chunk] = GetParam();
    const std::string p = path("t.MAP");
    c.map.write(p);
    BinaryFile file = fileSystem().openRead(p);
    test::LogCapture cap;
    Recorder rec;
    map::walkBlocks(file, &cap.log, rec, {.chunkSize = chunk});
    EXPECT_EQ(rec.events, c.events);
    EXPECT_EQ(cap.lines(), c.lines);
}

INSTANTIATE_TEST_SUITE_P(Cases, WalkTest,
                         ::testing::Combine(::testing::ValuesIn(walkCases()),
                                            ::testing::Values(std::size_t{512}, std::size_t{1536},
                                                              std::size_t{1} << 20)),
                         [](const auto& l_info) {
                             return std::string(std::get<0>(l_info.param).name) + "_chunk" +
                                    std::to_string(std::get<1>(l_info.param));
                         });

class WalkFailureTest : public test::TempDirTest
{
};

TEST_F(WalkFailureTest, RefusedFiles)
{
    struct Case
    {
        const char* name;
        MapBuilder map;
        int number;
        std::string description;
    };
    const Case cases[] = {
        {"UsedAbove32747", MapBuilder().objectBlock({kPoint}).objectBlock({kPoint}, 32748), 6, "Overflow"},
        {"BlockSize16384", MapBuilder().blockSize(16384).objectBlock({kPoint}), 5,
         "Unsupported .MAP block size 16384 (only 512 is supported)"},
        {"BlockSize1024", MapBuilder().blockSize(1024), 5,
         "Unsupported .MAP block size 1024 (only 512 is supported)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.map.write(path("t.MAP"));
        BinaryFile file = fileSystem().openRead(path("t.MAP"));
        Recorder rec;
        try {
            map::walkBlocks(file, nullptr, rec);
            ADD_FAILURE() << "no error";
        } catch (const RecoverError& e) {
            EXPECT_EQ(e.number(), c.number);
            EXPECT_EQ(e.description(), c.description);
        }
    }
    MapBuilder().objectBlock({kPoint}, 32747).write(path("t.MAP")); // the largest used that fits
    BinaryFile file = fileSystem().openRead(path("t.MAP"));
    Recorder rec;
    EXPECT_NO_THROW(map::walkBlocks(file, nullptr, rec));
}

TEST_F(WalkFailureTest, FileBeyond32BitOffsetsIsRefusedBeforeReading)
{
    const std::string p = path("big.MAP");
    MapBuilder().objectBlock({kPoint}).write(p);
    std::filesystem::resize_file(p, 2147483648ull); // sparse
    BinaryFile file = fileSystem().openRead(p);
    Recorder rec;
    try {
        map::walkBlocks(file, nullptr, rec);
        ADD_FAILURE() << "no error";
    } catch (const RecoverError& e) {
        EXPECT_EQ(e.number(), 6);
    }
    EXPECT_TRUE(rec.events.empty());
}

// Flips the last byte of every record and notes the offsets it changed.
class Patcher : public map::BlockVisitor
{
  public:
    void record(const map::MapRecord& r, std::span<std::byte> /*block*/) override
    {
        r.bytes[r.bytes.size() - 1] ^= std::byte{0xFF};
        patched.push_back(r.offset + r.bytes.size() - 1);
    }
    std::vector<std::uint64_t> patched;
};

TEST_F(WalkFailureTest, CopyCarriesPatchesAndEverythingElse)
{
    for (std::size_t chunk : {std::size_t{512}, std::size_t{1024}, std::size_t{1} << 20}) {
        SCOPED_TRACE(chunk);
        MapBuilder mb;
        mb.objectBlock({kPoint, kRegion})
            .block(0x04)
            .objectBlock({kUnknown})
            .objectBlock({kPoint})
            .truncateLastBlock(37);
        const Bytes in = mb.bytes();
        test::writeBytes(path("in.MAP"), in);
        BinaryFile src = fileSystem().openRead(path("in.MAP"));
        BinaryFile dst = fileSystem().create(path("out.MAP"));
        Patcher patcher;
        map::walkBlocks(src, nullptr, patcher, {.copyTo = &dst, .chunkSize = chunk});
        dst.close();

        Bytes expected = in;
        for (std::uint64_t at : patcher.patched)
            expected[at] ^= std::byte{0xFF};
        EXPECT_EQ(patcher.patched.size(), 4u);
        EXPECT_EQ(test::firstDifference(test::readBytes(path("out.MAP")), expected), "");
    }
}

// A failed walk still leaves a full copy: changes up to the failing block, the rest as it was.
TEST_F(WalkFailureTest, CopyIsCompletedWhenTheWalkFails)
{
    MapBuilder mb;
    mb.objectBlock({kPoint})
        .objectBlock({kPoint})
        .objectBlock({kPoint}, 32760)
        .objectBlock({kPoint})
        .objectBlock({kPoint, kRegion});
    const Bytes in = mb.bytes();
    test::writeBytes(path("in.MAP"), in);
    BinaryFile src = fileSystem().openRead(path("in.MAP"));
    BinaryFile dst = fileSystem().create(path("out.MAP"));
    Patcher patcher;
    EXPECT_THROW(map::walkBlocks(src, nullptr, patcher, {.copyTo = &dst, .chunkSize = 1024}), RecoverError);
    dst.close();
    Bytes expected = in;
    for (std::uint64_t at : patcher.patched)
        expected[at] ^= std::byte{0xFF};
    EXPECT_EQ(patcher.patched.size(), 2u);
    EXPECT_EQ(test::firstDifference(test::readBytes(path("out.MAP")), expected), "");
}

} // namespace
} // namespace tabrescue
