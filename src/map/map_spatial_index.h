#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "map/map_layout.h"

namespace tabrescue {
class BinaryFile;
}

namespace tabrescue::map {

// Every byte of an index block must lie at a 32-bit signed offset.
inline constexpr std::uint64_t kIndexEndLimit = kMaxFileSize + 1;

// A box in the file's integer coordinates, edges included.
struct Box
{
    std::int32_t xMin = 0;
    std::int32_t yMin = 0;
    std::int32_t xMax = 0;
    std::int32_t yMax = 0;
    friend bool operator==(const Box&, const Box&) = default;
};

constexpr Box unite(const Box& a, const Box& b)
{
    return {std::min(a.xMin, b.xMin), std::min(a.yMin, b.yMin), std::max(a.xMax, b.xMax),
            std::max(a.yMax, b.yMax)};
}

struct Point
{
    std::int32_t x = 0;
    std::int32_t y = 0;
};

// The identity of unite(): every box united with it is that box.
inline constexpr Box kNoBox{std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(),
                            std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min()};

// Where an object record keeps its box.
enum class BoxKind : std::uint8_t {
    Unknown,   // a type code the walk cannot step over
    None,      // no geometry
    Point,     // one coordinate pair
    TwoPairs,  // two coordinate pairs
    Arc,       // four coordinate pairs
    OriginBox, // short: i32 origin then four i16 relative to it; long: four i32
};

struct BoxLayout
{
    BoxKind kind = BoxKind::Unknown;
    std::uint8_t offset = 0; // of the first coordinate, from the record's type byte
};

BoxLayout boxLayout(std::uint8_t code);

// Short types store 16-bit coordinates.
constexpr bool isShortType(std::uint8_t code)
{
    return code % 3 == 1;
}

// The box of one object record. `record` starts at the type byte and may be cut short by the
// end of the file: missing bytes read as zeros. `centre` is that of the record's block. Empty for
// a record without a box.
std::optional<Box> recordBox(std::uint8_t code, std::span<const std::byte> record, Point centre);

// The centre of an object data block from its bytes as far as they lie in the file.
Point blockCentre(std::span<const std::byte> block);

// The box of the file header, corners ordered.
Box headerBox(std::span<const std::byte> header);

struct IndexEntry
{
    Box box;
    std::uint32_t child = 0; // offset of the block the entry bounds
    friend bool operator==(const IndexEntry&, const IndexEntry&) = default;
};

// Collects, during the block walk, one leaf entry per object data block with anything to bound.
// The walk calls beginBlock, addRecord for each record it processes, then endBlock.
class BlockBoxes
{
  public:
    // `header` is the start of the walked file, its box included.
    explicit BlockBoxes(std::span<const std::byte> header);

    // Room for the leaves of `blocks` object data blocks up front: a list that grows copies
    // itself, and every page it touches for the first time costs a page fault.
    void reserve(std::size_t blocks) { m_leaves.reserve(blocks); }

    void beginBlock(std::uint64_t offset, std::span<const std::byte> block);
    // A record of unknown type ends its block's walk; its box is unknown, so the block takes in
    // the header's box, which readers that can parse the record will search.
    void addRecord(std::uint8_t code, std::span<const std::byte> record);
    void endBlock();

    const std::vector<IndexEntry>& leaves() const { return m_leaves; }

  private:
    Box m_headerBox;
    Point m_centre;
    std::uint32_t m_offset = 0;
    // The union so far; empty (min above max) until a record with a box arrives, so that every
    // record unites without asking.
    Box m_box = kNoBox;
    bool m_hasBox = false;
    std::vector<IndexEntry> m_leaves;
};

// Where the index of `leafCount` leaf entries goes in a file of `fileLength` bytes.
struct IndexPlan
{
    std::uint64_t firstBlock = 0; // the file's length rounded up to whole blocks
    std::uint64_t blockCount = 0;
    int levels = 0;
};

// Throws error 6 when an index block would end beyond offset 2,147,483,647.
IndexPlan planSpatialIndex(std::uint64_t fileLength, std::size_t leafCount);

// Appends the index over `leaves` to `map`, `fileLength` bytes long, and points the header at its
// root. Without leaves nothing is appended and the header says there is no index. Throws error 6
// before appending anything when the index would not fit below 2 GB.
void writeSpatialIndex(BinaryFile& map, std::uint64_t fileLength, std::span<const IndexEntry> leaves);

} // namespace tabrescue::map
