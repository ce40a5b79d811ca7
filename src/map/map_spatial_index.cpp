#include "map/map_spatial_index.h"

#include <array>
#include <limits>

#include "base/byte_order.h"
#include "base/recover_error.h"
#include "io/file_system.h"

namespace tabrescue::map {

namespace {

// Byte-wise little-endian read where bytes beyond `bytes` count as zeros.
std::uint32_t readPadded(std::span<const std::byte> bytes, std::size_t at, std::size_t width)
{
    std::uint32_t v = 0;
    for (std::size_t i = width; i-- > 0;) {
        const std::size_t pos = at + i;
        v = (v << 8) | (pos < bytes.size() ? std::to_integer<std::uint32_t>(bytes[pos]) : 0u);
    }
    return v;
}

std::int32_t read32(std::span<const std::byte> bytes, std::size_t at)
{
    return static_cast<std::int32_t>(readPadded(bytes, at, 4));
}

std::int16_t read16(std::span<const std::byte> bytes, std::size_t at)
{
    return static_cast<std::int16_t>(readPadded(bytes, at, 2));
}

std::int32_t saturatingAdd(std::int32_t base, std::int16_t delta)
{
    const std::int64_t sum = std::int64_t{base} + delta;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(sum, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

Box ordered(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2)
{
    return {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

constexpr std::array<BoxLayout, 256> buildBoxLayouts()
{
    struct Row
    {
        std::uint8_t code;
        BoxKind kind;
        std::uint8_t offset;
    };
    constexpr Row kRows[] = {
        {0x00, BoxKind::None, 0},
        // One pair: points, font symbols, custom symbols.
        {0x01, BoxKind::Point, 5},
        {0x02, BoxKind::Point, 5},
        {0x28, BoxKind::Point, 17},
        {0x29, BoxKind::Point, 17},
        {0x2B, BoxKind::Point, 7},
        {0x2C, BoxKind::Point, 7},
        // Two pairs: line, rectangle, ellipse, rounded rectangle, text (its label box).
        {0x04, BoxKind::TwoPairs, 5},
        {0x05, BoxKind::TwoPairs, 5},
        {0x13, BoxKind::TwoPairs, 5},
        {0x14, BoxKind::TwoPairs, 5},
        {0x19, BoxKind::TwoPairs, 5},
        {0x1A, BoxKind::TwoPairs, 5},
        {0x16, BoxKind::TwoPairs, 9},
        {0x17, BoxKind::TwoPairs, 13},
        {0x10, BoxKind::TwoPairs, 30},
        {0x11, BoxKind::TwoPairs, 36},
        // The ellipse's box, then the arc's.
        {0x0A, BoxKind::Arc, 9},
        {0x0B, BoxKind::Arc, 9},
        // Objects with coordinate data elsewhere carry their own box.
        {0x07, BoxKind::OriginBox, 17},
        {0x08, BoxKind::OriginBox, 21},
        {0x0D, BoxKind::OriginBox, 19},
        {0x0E, BoxKind::OriginBox, 23},
        {0x25, BoxKind::OriginBox, 19},
        {0x26, BoxKind::OriginBox, 23},
        {0x2E, BoxKind::OriginBox, 19},
        {0x2F, BoxKind::OriginBox, 23},
        {0x31, BoxKind::OriginBox, 19},
        {0x32, BoxKind::OriginBox, 23},
        {0x3D, BoxKind::OriginBox, 54},
        {0x3E, BoxKind::OriginBox, 58},
        {0x40, BoxKind::OriginBox, 54},
        {0x41, BoxKind::OriginBox, 58},
        {0x34, BoxKind::OriginBox, 34},
        {0x35, BoxKind::OriginBox, 38},
        {0x43, BoxKind::OriginBox, 67},
        {0x44, BoxKind::OriginBox, 71},
        {0x37, BoxKind::OriginBox, 45},
        {0x38, BoxKind::OriginBox, 45},
        {0x46, BoxKind::OriginBox, 50},
        {0x47, BoxKind::OriginBox, 50},
    };
    std::array<BoxLayout, 256> t{};
    for (const Row& r : kRows)
        t[r.code] = {r.kind, r.offset};
    return t;
}

constexpr std::array<BoxLayout, 256> kBoxLayouts = buildBoxLayouts();

// recordBox again, for records that lie wholly in their bytes, as it runs once per object of a
// table: a box is the span of two points (one point read twice), and every coordinate is one
// 32-bit read shifted right by 0 (32-bit types) or by 16 (a 16-bit value read with the two bytes
// before it) and added to a base that masks pick. With short and long types mixed at random, any
// branch on the kind would be mispredicted for every other object. Arcs, with four points, are
// rare enough to go through recordBox.
struct PointReads
{
    bool usable = false; // false: no box, or one that only recordBox knows (an arc, the header's)
    std::uint8_t shift = 0;
    std::uint8_t originAt = 0;   // read always; used where originMask is set
    std::uint32_t centreMask = 0; // ~0: 16-bit values count from the block's centre
    std::uint32_t originMask = 0; // ~0: 16-bit values count from the origin at originAt
    std::array<std::uint8_t, 2> x{};
    std::array<std::uint8_t, 2> y{};
    std::uint8_t needed = 8; // the record's bytes that the reads cover
};

constexpr std::array<PointReads, 256> buildPointReads()
{
    std::array<PointReads, 256> t{};
    for (unsigned code = 0; code < 256; ++code) {
        const BoxLayout layout = kBoxLayouts[code];
        const bool narrow = isShortType(static_cast<std::uint8_t>(code));
        PointReads r;
        unsigned pairs = 0;
        unsigned first = layout.offset;
        switch (layout.kind) {
        case BoxKind::Point:
            pairs = 1;
            break;
        case BoxKind::TwoPairs:
            pairs = 2;
            break;
        case BoxKind::OriginBox:
            pairs = 2;
            if (narrow) {
                r.originAt = layout.offset;
                r.originMask = ~0u;
                first = layout.offset + 8u;
            }
            break;
        case BoxKind::Arc:
        case BoxKind::Unknown:
        case BoxKind::None:
            continue;
        }
        r.usable = true;
        r.shift = narrow ? 16 : 0;
        if (narrow && r.originMask == 0)
            r.centreMask = ~0u;
        r.needed = static_cast<std::uint8_t>(std::max<unsigned>(r.needed, r.originAt + 8u));
        const unsigned width = narrow ? 2u : 4u;
        for (unsigned i = 0; i < 2; ++i) {
            const unsigned at = first + (i % pairs) * 2u * width;
            r.x[i] = static_cast<std::uint8_t>(at + width - 4u); // the 32 bits that end with the value
            r.y[i] = static_cast<std::uint8_t>(at + 2u * width - 4u);
            r.needed = std::max(r.needed, static_cast<std::uint8_t>(at + 2u * width));
        }
        t[code] = r;
    }
    return t;
}

constexpr std::array<PointReads, 256> kPointReads = buildPointReads();

constexpr bool pointReadsLieInTheirRecords()
{
    for (unsigned code = 0; code < 256; ++code)
        if (kPointReads[code].usable && kPointReads[code].needed > kGeoTypes[code].length)
            return false;
    return true;
}
static_assert(pointReadsLieInTheirRecords(), "a whole record holds its box");

// Saturation commutes with min and max, so the sums stay 64-bit and only the four edges are clamped.
std::int32_t clamped(std::int64_t v)
{
    constexpr std::int64_t kLow = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kHigh = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(v, kLow, kHigh));
}

Box spanOfPoints(const PointReads& r, std::span<const std::byte> record, Point centre)
{
    const auto pick = [&](std::uint32_t fromCentre, std::size_t originAt) {
        const std::uint32_t fromOrigin = readLE32(record, originAt);
        return static_cast<std::int32_t>((fromCentre & r.centreMask) | (fromOrigin & r.originMask));
    };
    const std::int64_t baseX = pick(static_cast<std::uint32_t>(centre.x), r.originAt);
    const std::int64_t baseY = pick(static_cast<std::uint32_t>(centre.y), r.originAt + 4u);
    const auto coordinate = [&](std::uint8_t at) { return readLE32s(record, at) >> r.shift; };
    const std::int64_t x0 = baseX + coordinate(r.x[0]), y0 = baseY + coordinate(r.y[0]);
    const std::int64_t x1 = baseX + coordinate(r.x[1]), y1 = baseY + coordinate(r.y[1]);
    return {clamped(std::min(x0, x1)), clamped(std::min(y0, y1)), clamped(std::max(x0, x1)),
            clamped(std::max(y0, y1))};
}

void putEntry(std::span<std::byte> block, std::size_t k, const IndexEntry& e)
{
    const std::size_t at = kIndexEntriesOffset + k * kIndexEntrySize;
    writeLE32(block, at, static_cast<std::uint32_t>(e.box.xMin));
    writeLE32(block, at + 4, static_cast<std::uint32_t>(e.box.yMin));
    writeLE32(block, at + 8, static_cast<std::uint32_t>(e.box.xMax));
    writeLE32(block, at + 12, static_cast<std::uint32_t>(e.box.yMax));
    writeLE32(block, at + kIndexEntryChildOffset, e.child);
}

} // namespace

BoxLayout boxLayout(std::uint8_t code)
{
    return kBoxLayouts[code];
}

std::optional<Box> recordBox(std::uint8_t code, std::span<const std::byte> record, Point centre)
{
    const BoxLayout layout = boxLayout(code);
    const std::size_t at = layout.offset;
    const bool isShort = isShortType(code);
    // The i-th coordinate pair of the record.
    const auto pair = [&](std::size_t i) {
        if (isShort)
            return Point{saturatingAdd(centre.x, read16(record, at + 4 * i)),
                         saturatingAdd(centre.y, read16(record, at + 4 * i + 2))};
        return Point{read32(record, at + 8 * i), read32(record, at + 8 * i + 4)};
    };
    switch (layout.kind) {
    case BoxKind::Unknown:
    case BoxKind::None:
        return std::nullopt;
    case BoxKind::Point: {
        const Point p = pair(0);
        return Box{p.x, p.y, p.x, p.y};
    }
    case BoxKind::TwoPairs:
    case BoxKind::Arc: {
        const Point a = pair(0), b = pair(1);
        Box box = ordered(a.x, a.y, b.x, b.y);
        if (layout.kind == BoxKind::Arc) {
            const Point c = pair(2), d = pair(3);
            box = unite(box, ordered(c.x, c.y, d.x, d.y));
        }
        return box;
    }
    case BoxKind::OriginBox:
        if (isShort) {
            const std::int32_t x = read32(record, at), y = read32(record, at + 4);
            return ordered(
                saturatingAdd(x, read16(record, at + 8)), saturatingAdd(y, read16(record, at + 10)),
                saturatingAdd(x, read16(record, at + 12)), saturatingAdd(y, read16(record, at + 14)));
        }
        return ordered(read32(record, at), read32(record, at + 4), read32(record, at + 8),
                       read32(record, at + 12));
    }
    return std::nullopt;
}

Point blockCentre(std::span<const std::byte> block)
{
    return {read32(block, kBlockCentreXOffset), read32(block, kBlockCentreYOffset)};
}

Box headerBox(std::span<const std::byte> header)
{
    return ordered(readLE32s(header, kHeaderBoxOffset), readLE32s(header, kHeaderBoxOffset + 4),
                   readLE32s(header, kHeaderBoxOffset + 8), readLE32s(header, kHeaderBoxOffset + 12));
}

BlockBoxes::BlockBoxes(std::span<const std::byte> header) : m_headerBox(headerBox(header)) {}

void BlockBoxes::beginBlock(std::uint64_t offset, std::span<const std::byte> block)
{
    m_offset = static_cast<std::uint32_t>(offset);
    m_centre = blockCentre(block);
    m_box = kNoBox;
    m_hasBox = false;
}

void BlockBoxes::addRecord(std::uint8_t code, std::span<const std::byte> record)
{
    const PointReads& reads = kPointReads[code];
    if (reads.usable && record.size() >= reads.needed) {
        const Box box = spanOfPoints(reads, record, m_centre);
        m_box = unite(m_box, box);
        m_hasBox = true;
        return;
    }
    std::optional<Box> box =
        boxLayout(code).kind == BoxKind::Unknown ? m_headerBox : recordBox(code, record, m_centre);
    if (box) {
        m_box = unite(m_box, *box);
        m_hasBox = true;
    }
}

void BlockBoxes::endBlock()
{
    if (m_hasBox)
        m_leaves.push_back({m_box, m_offset});
    m_box = kNoBox;
    m_hasBox = false;
}

IndexPlan planSpatialIndex(std::uint64_t fileLength, std::size_t leafCount)
{
    IndexPlan plan;
    plan.firstBlock = (fileLength + kBlockSize - 1) / kBlockSize * kBlockSize;
    for (std::uint64_t n = leafCount; n > 0;) {
        n = (n + kIndexFanOut - 1) / kIndexFanOut;
        plan.blockCount += n;
        ++plan.levels;
        if (n == 1)
            break;
    }
    if (plan.firstBlock + plan.blockCount * kBlockSize > kIndexEndLimit)
        throwOverflow();
    return plan;
}

void writeSpatialIndex(BinaryFile& map, std::uint64_t fileLength, std::span<const IndexEntry> leaves)
{
    std::array<std::byte, 4> number{};
    std::array<std::byte, 16> boxBytes{};
    if (leaves.empty()) {
        map.writeAt(kIndexRootOffset, number);
        map.writeAt(kIndexDepthOffset, std::array<std::byte, 1>{});
        return;
    }
    const IndexPlan plan = planSpatialIndex(fileLength, leaves.size());

    AppendWriter out(map, fileLength);
    const std::array<std::byte, kBlockSize> zeros{};
    out.append(std::span(zeros).first(static_cast<std::size_t>(plan.firstBlock - fileLength)));

    // Each level's blocks go out in order; the level above holds one entry per block written.
    std::array<std::byte, kBlockSize> block{};
    const auto writeLevel = [&](std::span<const IndexEntry> entries, std::vector<IndexEntry>& up) {
        up.clear();
        for (std::size_t first = 0; first < entries.size(); first += kIndexFanOut) {
            const std::size_t n = std::min(kIndexFanOut, entries.size() - first);
            block.fill(std::byte{0});
            writeLE16(block, 0, kIndexBlock);
            writeLE16(block, kIndexEntryCountOffset, static_cast<std::uint16_t>(n));
            Box box = entries[first].box;
            for (std::size_t k = 0; k < n; ++k) {
                putEntry(block, k, entries[first + k]);
                box = unite(box, entries[first + k].box);
            }
            up.push_back({box, static_cast<std::uint32_t>(out.position())});
            out.append(block);
        }
    };
    std::vector<IndexEntry> level, next;
    writeLevel(leaves, level);
    while (level.size() > 1) {
        writeLevel(level, next);
        level.swap(next);
    }
    const IndexEntry root = level.front();
    out.flush();

    map.readExactAt(kHeaderBoxOffset, boxBytes);
    const Box header{readLE32s(boxBytes, 0), readLE32s(boxBytes, 4), readLE32s(boxBytes, 8),
                     readLE32s(boxBytes, 12)};
    const Box widened = unite(header, root.box);
    if (widened != header) {
        writeLE32(boxBytes, 0, static_cast<std::uint32_t>(widened.xMin));
        writeLE32(boxBytes, 4, static_cast<std::uint32_t>(widened.yMin));
        writeLE32(boxBytes, 8, static_cast<std::uint32_t>(widened.xMax));
        writeLE32(boxBytes, 12, static_cast<std::uint32_t>(widened.yMax));
        map.writeAt(kHeaderBoxOffset, boxBytes);
    }
    writeLE32(number, 0, root.child);
    map.writeAt(kIndexRootOffset, number);
    map.writeAt(kIndexDepthOffset, std::array<std::byte, 1>{static_cast<std::byte>(plan.levels + 1)});
}

} // namespace tabrescue::map
