#include "synthetic_table.h"

#include "map_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace tabrescue::bench {

namespace {

using mapfile::kBlockSize;
constexpr std::size_t kCoordBlockHeader = 8;
constexpr std::size_t kCoordArea = kBlockSize - kCoordBlockHeader;
constexpr std::uint64_t kFirstDataBlock = 1024; // header block and one reserved block before it

constexpr std::uint8_t kCoordBlockType = 0x03;
constexpr std::uint8_t kIndexBlockType = 0x01;
constexpr std::uint8_t kGarbageBlockType = 0x04;
constexpr std::uint8_t kToolBlockType = 0x05;
constexpr std::uint32_t kOtherBlockEvery = 40; // object data blocks between index/tool blocks

// .MAP header fields the writer leaves to its callers.
constexpr std::size_t kVersionOffset = 260;
constexpr std::size_t kUnitsRatioOffset = 264; // double
constexpr std::size_t kMaxCoordBufOffset = 332;
constexpr std::size_t kCoordPrecisionOffset = 352;
constexpr std::size_t kOriginQuadrantOffset = 353;
constexpr std::size_t kScaleOffset = 368; // 4 doubles: x scale, y scale, x displacement, y displacement

// .DAT
constexpr std::uint32_t kDeletedMask = 0xC0000000u;
constexpr std::uint8_t kDatLive = 0x20, kDatDeleted = 0x2A, kDatEnd = 0x1A, kDatTerminator = 0x0D;

struct Field
{
    const char* name;
    char type;
    std::uint8_t length;
    const char* tabType;
};
constexpr std::array<Field, 8> kFields{{
    {"ID", 'C', 4, "Integer"},
    {"NAME", 'C', 40, "Char (40)"},
    {"CODE", 'C', 12, "Char (12)"},
    {"KIND", 'C', 20, "Char (20)"},
    {"AREA", 'C', 8, "Float"},
    {"LENGTH", 'C', 8, "Float"},
    {"CREATED", 'C', 4, "Date"},
    {"NOTE", 'C', 103, "Char (103)"},
}};
constexpr std::uint32_t kDatHeaderLength = 32 + 32 * kFields.size() + 1;

enum class Shape { None, Point, Line, Arc, Poly, Region, MultiLine, Text, Box, RoundBox };

struct ObjectType
{
    std::uint8_t code;
    std::uint8_t length;
    Shape shape;
    bool compressed;
    std::uint32_t weight; // per cent of objects
};
// Weights sum to 100; the mix leans on polylines and regions, as real maps do.
constexpr std::array<ObjectType, 20> kTypes{{
    {0x00, 5, Shape::None, false, 2},      {0x01, 10, Shape::Point, true, 10},
    {0x02, 14, Shape::Point, false, 5},    {0x04, 14, Shape::Line, true, 5},
    {0x05, 22, Shape::Line, false, 3},     {0x07, 34, Shape::Poly, true, 15},
    {0x08, 38, Shape::Poly, false, 8},     {0x0A, 26, Shape::Arc, true, 2},
    {0x0B, 42, Shape::Arc, false, 1},      {0x0D, 37, Shape::Region, true, 20},
    {0x0E, 41, Shape::Region, false, 10},  {0x10, 39, Shape::Text, true, 4},
    {0x11, 53, Shape::Text, false, 2},     {0x13, 15, Shape::Box, true, 3},
    {0x14, 23, Shape::Box, false, 2},      {0x16, 19, Shape::RoundBox, true, 1},
    {0x17, 31, Shape::RoundBox, false, 1}, {0x19, 15, Shape::Box, true, 2},
    {0x1A, 23, Shape::Box, false, 1},      {0x26, 40, Shape::MultiLine, false, 3},
}};

constexpr int kMaxVertices = 101;
constexpr std::int32_t kUncompressedSectionHeader = 24;
constexpr std::int32_t kSpread = 20000; // how far objects lie from their block's centre

// Same class ranges as the recovery's header counts.
int classOf(std::uint8_t code)
{
    if (code >= 0x01 && code <= 0x03)
        return 0;
    if (code >= 0x04 && code <= 0x0C)
        return 1;
    if ((code >= 0x0D && code <= 0x0F) || (code >= 0x13 && code <= 0x1B))
        return 2;
    if (code >= 0x10 && code <= 0x12)
        return 3;
    return 4;
}

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// splitmix64: tiny, fast, and the same sequence on every platform.
class Random
{
  public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next() { return mix(m_state += 0x9E3779B97F4A7C15ull); }
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(((next() >> 32) * n) >> 32); }
    std::int32_t between(std::int32_t lo, std::int32_t hi)
    {
        return lo + static_cast<std::int32_t>(below(static_cast<std::uint32_t>(hi - lo + 1)));
    }
    bool permille(std::uint32_t p) { return below(1000) < p; }

  private:
    std::uint64_t m_state;
};

// Decisions that the .DAT and the .MAP writer must agree on, without sharing a sequence.
bool chance(std::uint64_t seed, std::uint64_t salt, std::uint32_t row, std::uint32_t permille)
{
    return mix(seed ^ mix(salt ^ row)) % 1000 < permille;
}
bool rowDeleted(const TableRecipe& s, std::uint32_t row)
{
    return chance(s.seed, 0x0D, row, s.deletedRowsPermille);
}
bool objectDeleted(const TableRecipe& s, std::uint32_t row)
{
    return rowDeleted(s, row) || chance(s.seed, 0x0E, row, s.erasedObjectsPermille);
}

void put16(std::byte* p, std::int32_t v)
{
    mapfile::put16({p, 2}, 0, v);
}
void put32(std::byte* p, std::int64_t v)
{
    mapfile::put32({p, 4}, 0, v);
}
void putDouble(std::byte* p, double d)
{
    auto u = std::bit_cast<std::uint64_t>(d);
    for (int i = 0; i < 8; ++i, u >>= 8)
        p[i] = static_cast<std::byte>(u & 0xFF);
}

// Sequential writer with a large buffer.
class Output
{
  public:
    explicit Output(const std::string& path) : m_path(path), m_out(path, std::ios::binary | std::ios::trunc)
    {
        if (!m_out)
            throw std::runtime_error("cannot create " + path);
        m_buf.reserve(kCapacity);
    }
    void write(const std::byte* p, std::size_t n)
    {
        if (m_buf.size() + n > kCapacity)
            flush();
        m_buf.insert(m_buf.end(), p, p + n);
        m_written += n;
    }
    void write(std::string_view s) { write(reinterpret_cast<const std::byte*>(s.data()), s.size()); }
    std::uint64_t written() const { return m_written; }
    void close()
    {
        flush();
        m_out.close();
        if (!m_out)
            throw std::runtime_error("cannot write " + m_path);
    }

  private:
    void flush()
    {
        m_out.write(reinterpret_cast<const char*>(m_buf.data()), static_cast<std::streamsize>(m_buf.size()));
        if (!m_out)
            throw std::runtime_error("cannot write " + m_path);
        m_buf.clear();
    }
    static constexpr std::size_t kCapacity = 1u << 20;
    std::string m_path;
    std::ofstream m_out;
    std::vector<std::byte> m_buf;
    std::uint64_t m_written = 0;
};

std::string tabText()
{
    std::string t = "!table\r\n!version 300\r\n!charset WindowsLatin1\r\n\r\nDefinition Table\r\n"
                    "  Type NATIVE Charset \"WindowsLatin1\"\r\n  Fields " +
                    std::to_string(kFields.size()) + "\r\n";
    for (const Field& f : kFields)
        t += std::string("    ") + f.name + " " + f.tabType + " ;\r\n";
    return t;
}

void writeDat(const std::string& path, const TableRecipe& recipe, TableSummary& sum)
{
    Output out(path);
    std::array<std::byte, kDatHeaderLength> header{};
    header[0] = std::byte{0x03};
    header[1] = std::byte{124}; // 2024-05-17
    header[2] = std::byte{5};
    header[3] = std::byte{17};
    put32(&header[4], recipe.rows);
    put16(&header[8], kDatHeaderLength);
    put16(&header[10], kRecordLength);
    std::size_t at = 32;
    for (const Field& f : kFields) {
        std::memcpy(&header[at], f.name, std::strlen(f.name));
        header[at + 11] = static_cast<std::byte>(f.type);
        header[at + 16] = static_cast<std::byte>(f.length);
        at += 32;
    }
    header[at] = std::byte{kDatTerminator};
    out.write(header.data(), header.size());

    static constexpr std::array<std::string_view, 6> kKinds{"road",  "parcel", "building",
                                                            "river", "fence",  "survey point"};
    Random rnd(mix(recipe.seed ^ 0xDA7));
    std::array<std::byte, kRecordLength> row{};
    for (std::uint32_t k = 1; k <= recipe.rows; ++k) {
        std::memset(row.data(), ' ', row.size());
        const bool deleted = rowDeleted(recipe, k);
        row[0] = std::byte{deleted ? kDatDeleted : kDatLive};
        sum.deletedRows += deleted ? 1 : 0;
        char* text = reinterpret_cast<char*>(row.data());
        std::size_t pos = 1;
        put32(&row[pos], k);
        pos += 4;
        std::memcpy(text + pos, "Feature ", 8);
        std::to_chars(text + pos + 8, text + pos + 40, k);
        pos += 40;
        std::memcpy(text + pos, "C-", 2);
        std::to_chars(text + pos + 2, text + pos + 12, rnd.below(100000));
        pos += 12;
        const auto kind = kKinds[rnd.below(kKinds.size())];
        std::memcpy(text + pos, kind.data(), kind.size());
        pos += 20;
        putDouble(&row[pos], rnd.below(1000000) / 8.0);
        pos += 8;
        putDouble(&row[pos], rnd.below(100000) / 4.0);
        pos += 8;
        put16(&row[pos], 1990 + static_cast<std::int32_t>(rnd.below(34))); // date: year, month, day
        row[pos + 2] = static_cast<std::byte>(1 + rnd.below(12));
        row[pos + 3] = static_cast<std::byte>(1 + rnd.below(28));
        pos += 4;
        const std::size_t noteLength = rnd.below(103);
        for (std::size_t i = 0; i < noteLength; ++i)
            text[pos + i] = static_cast<char>('a' + rnd.below(26));
        out.write(row.data(), row.size());
    }
    const std::byte end{kDatEnd};
    out.write(&end, 1);
    sum.rows = recipe.rows;
    sum.datBytes = out.written();
    out.close();
}

struct Bounds
{
    std::int32_t minX = std::numeric_limits<std::int32_t>::max();
    std::int32_t minY = std::numeric_limits<std::int32_t>::max();
    std::int32_t maxX = std::numeric_limits<std::int32_t>::min();
    std::int32_t maxY = std::numeric_limits<std::int32_t>::min();
    void add(std::int32_t x, std::int32_t y)
    {
        minX = std::min(minX, x);
        minY = std::min(minY, y);
        maxX = std::max(maxX, x);
        maxY = std::max(maxY, y);
    }
};

// Writes the .MAP and .ID together: the .ID entry of row k is the offset of object k, 0 for a
// deleted row (its geometry is gone from the table's point of view).
class MapWriter
{
  public:
    MapWriter(const std::string& mapPath, const std::string& idPath, const TableRecipe& recipe, TableSummary& sum)
        : m_mapPath(mapPath), m_map(mapPath), m_id(idPath), m_recipe(recipe), m_sum(sum),
          m_rnd(mix(recipe.seed ^ 0x3A9))
    {
        std::array<std::byte, kFirstDataBlock> start{};
        m_map.write(start.data(), start.size()); // the header is written last, in place
        m_offset = kFirstDataBlock;
        m_typeWeights = 0;
        for (const ObjectType& t : kTypes)
            m_typeWeights += t.weight;
    }

    void run()
    {
        std::uint32_t row = 1;
        std::uint32_t garbageDone = 0;
        while (row <= m_recipe.rows) {
            // Garbage blocks stand at even intervals through the file.
            while (garbageDone < m_recipe.garbageBlocks && std::uint64_t{row} * (m_recipe.garbageBlocks + 1) >=
                                                             std::uint64_t{garbageDone + 1} * m_recipe.rows) {
                otherBlock(kGarbageBlockType);
                ++garbageDone;
                ++m_sum.garbageBlocks;
            }
            if (m_sum.objectBlocks > 0 && m_sum.objectBlocks % kOtherBlockEvery == 0) {
                otherBlock(m_sum.objectBlocks % (kOtherBlockEvery * 4) == 0 ? kToolBlockType
                                                                            : kIndexBlockType);
                ++m_sum.otherBlocks;
            }
            row = objectBlock(row);
        }
        while (garbageDone < m_recipe.garbageBlocks) {
            otherBlock(kGarbageBlockType);
            ++garbageDone;
            ++m_sum.garbageBlocks;
        }
        m_sum.mapBytes = m_map.written();
        m_sum.idBytes = m_id.written();
        m_map.close();
        m_id.close();
        writeHeader();
    }

  private:
    struct Pending
    {
        std::size_t recordAt; // in the block
        std::size_t coordAt;  // in the block's coordinate data
    };

    const ObjectType& pickType()
    {
        std::uint32_t r = m_rnd.below(m_typeWeights);
        for (const ObjectType& t : kTypes) {
            if (r < t.weight)
                return t;
            r -= t.weight;
        }
        return kTypes.back();
    }

    void otherBlock(std::uint8_t type)
    {
        const mapfile::Block block = mapfile::block(type);
        m_map.write(block.data(), block.size());
        m_offset += kBlockSize;
    }

    std::uint8_t styleIndex(std::uint8_t limit) { return static_cast<std::uint8_t>(m_rnd.between(1, limit)); }
    std::uint8_t overLimit(std::uint8_t limit)
    {
        return static_cast<std::uint8_t>(m_rnd.between(limit + 1, 255));
    }

    // Fills one object data block, then the coordinate blocks that hold its objects' vertices and
    // texts. Returns the next row.
    std::uint32_t objectBlock(std::uint32_t row)
    {
        m_coords.clear();
        m_pending.clear();
        const std::int32_t cx = m_rnd.between(-1000000000, 1000000000);
        const std::int32_t cy = m_rnd.between(-1000000000, 1000000000);
        mapfile::ObjectBlock objects(cx, cy);
        while (row <= m_recipe.rows) {
            if (m_nextType == nullptr)
                m_nextType = &pickType();
            const ObjectType& t = *m_nextType;
            if (!objects.fits(t.length))
                break;
            m_nextType = nullptr;
            const std::size_t at = mapfile::ObjectBlock::kHeaderSize + objects.used();
            writeObject(t, objects, row, cx, cy, at);
            const std::uint64_t offset = m_offset + at;
            std::array<std::byte, 4> id{};
            put32(id.data(), objectDeleted(m_recipe, row) ? 0 : static_cast<std::int64_t>(offset));
            m_id.write(id.data(), id.size());
            ++row;
        }

        const std::size_t coordBlocks = (m_coords.size() + kCoordArea - 1) / kCoordArea;
        const std::uint64_t firstCoord = m_offset + kBlockSize;
        mapfile::Block& block = objects.bytes();
        for (const Pending& p : m_pending)
            put32(&block[p.recordAt + 5], static_cast<std::int64_t>(coordAddress(firstCoord, p.coordAt)));
        if (coordBlocks > 0) {
            put32(&block[12], static_cast<std::int64_t>(firstCoord));
            put32(&block[16], static_cast<std::int64_t>(firstCoord + (coordBlocks - 1) * kBlockSize));
        }
        m_map.write(block.data(), block.size());
        ++m_sum.objectBlocks;

        for (std::size_t i = 0; i < coordBlocks; ++i) {
            mapfile::Block cb = mapfile::block(kCoordBlockType);
            const std::size_t from = i * kCoordArea;
            const std::size_t n = std::min(kCoordArea, m_coords.size() - from);
            put16(&cb[2], static_cast<std::int32_t>(n));
            if (i + 1 < coordBlocks)
                put32(&cb[4], static_cast<std::int64_t>(firstCoord + (i + 1) * kBlockSize));
            std::memcpy(&cb[kCoordBlockHeader], m_coords.data() + from, n);
            m_map.write(cb.data(), cb.size());
            ++m_sum.coordBlocks;
        }
        m_maxCoordBuf = std::max<std::size_t>(m_maxCoordBuf, m_coords.size());
        m_offset += kBlockSize * (1 + coordBlocks);
        return row;
    }

    static std::uint64_t coordAddress(std::uint64_t firstCoord, std::size_t at)
    {
        return firstCoord + (at / kCoordArea) * kBlockSize + kCoordBlockHeader + at % kCoordArea;
    }

    std::size_t coordBytes(std::size_t n)
    {
        const std::size_t at = m_coords.size();
        m_coords.resize(at + n);
        return at;
    }

    // Coordinates of a compressed object are 16-bit offsets from a base; of the others absolute.
    void pair(std::byte* p, bool compressed, std::int32_t x, std::int32_t y, std::int32_t baseX,
              std::int32_t baseY)
    {
        m_bounds.add(x, y);
        if (compressed) {
            put16(p, x - baseX);
            put16(p + 2, y - baseY);
        } else {
            put32(p, x);
            put32(p + 4, y);
        }
    }
    // A box written as two pairs (min corner, max corner).
    void box(std::byte* p, bool compressed, std::int32_t x0, std::int32_t y0, std::int32_t x1,
             std::int32_t y1, std::int32_t baseX, std::int32_t baseY)
    {
        pair(p, compressed, x0, y0, baseX, baseY);
        pair(p + (compressed ? 4 : 8), compressed, x1, y1, baseX, baseY);
    }

    // Vertices (and one section header for regions) into the block's coordinate data; returns the
    // number of bytes and sets the record's pointer later.
    std::size_t vertices(bool compressed, bool sections, std::int32_t ox, std::int32_t oy, std::int32_t minX,
                         std::int32_t minY, std::int32_t maxX, std::int32_t maxY)
    {
        const int n = m_rnd.between(2, kMaxVertices);
        const std::size_t pairSize = compressed ? 4 : 8;
        const std::size_t sectionSize = sections ? (compressed ? 16 : 24) : 0;
        const std::size_t total = sectionSize + pairSize * static_cast<std::size_t>(n);
        const std::size_t at = coordBytes(total);
        std::byte* p = m_coords.data() + at;
        if (sections) {
            put16(p, n);
            put16(p + 2, 0);
            box(p + 4, compressed, minX, minY, maxX, maxY, ox, oy);
            // Readers take the offset as if headers and vertices were uncompressed.
            put32(p + (compressed ? 12 : 20), kUncompressedSectionHeader);
            p += sectionSize;
        }
        const std::int32_t firstX = m_rnd.between(minX, maxX), firstY = m_rnd.between(minY, maxY);
        for (int i = 0; i < n; ++i, p += pairSize) {
            // A region's ring ends where it starts.
            const bool closing = sections && i > 0 && i + 1 == n;
            pair(p, compressed, i == 0 || closing ? firstX : m_rnd.between(minX, maxX),
                 i == 0 || closing ? firstY : m_rnd.between(minY, maxY), ox, oy);
        }
        return total;
    }

    void writeObject(const ObjectType& t, mapfile::ObjectBlock& objects, std::uint32_t row, std::int32_t cx,
                     std::int32_t cy, std::size_t recordAt)
    {
        const bool deleted = objectDeleted(m_recipe, row);
        std::uint32_t rowField = row;
        if (deleted) {
            static constexpr std::array<std::uint32_t, 3> kMarks{0x40000000u, 0x80000000u, kDeletedMask};
            rowField |= kMarks[m_rnd.below(kMarks.size())];
            ++m_sum.deletedObjects;
        }
        std::byte* r = objects.add(t.code, rowField, t.length).data();
        ++m_sum.objects;
        ++m_sum.classCounts[classOf(t.code)];
        if (!deleted)
            ++m_liveClassCounts[classOf(t.code)];

        // The object's box, near the block centre so that 16-bit offsets reach it.
        const std::int32_t x0 = cx + m_rnd.between(-kSpread, kSpread - 2000);
        const std::int32_t y0 = cy + m_rnd.between(-kSpread, kSpread - 2000);
        const std::int32_t x1 = x0 + m_rnd.between(1, 2000);
        const std::int32_t y1 = y0 + m_rnd.between(1, 2000);
        const std::int32_t ox = x0 + (x1 - x0) / 2; // origin of the "origin + box" kinds
        const std::int32_t oy = y0 + (y1 - y0) / 2;
        const bool c = t.compressed;
        std::byte* last = r + t.length - 1;
        const bool over = m_rnd.permille(m_recipe.styleOverLimitPermille);

        switch (t.shape) {
        case Shape::None:
            return;
        case Shape::Point:
            pair(r + 5, c, x0, y0, cx, cy);
            *last = std::byte{over ? overLimit(kSymbolLimit) : styleIndex(kSymbolLimit)};
            break;
        case Shape::Line:
            box(r + 5, c, x0, y0, x1, y1, cx, cy);
            *last = std::byte{over ? overLimit(kPenLimit) : styleIndex(kPenLimit)};
            break;
        case Shape::Arc:
            put16(r + 5, m_rnd.between(0, 3599));
            put16(r + 7, m_rnd.between(0, 3599));
            box(r + 9, c, x0, y0, x1, y1, cx, cy);
            box(r + (c ? 17 : 25), c, x0, y0, x1, y1, cx, cy);
            *last = std::byte{over ? overLimit(kPenLimit) : styleIndex(kPenLimit)};
            break;
        case Shape::Poly: {
            const std::size_t coordAt = m_coords.size();
            const std::size_t size = vertices(c, false, ox, oy, x0, y0, x1, y1);
            m_pending.push_back({recordAt, coordAt});
            put32(r + 9, static_cast<std::int64_t>(size));
            if (c) {
                pair(r + 13, true, ox, oy, ox, oy); // label point
                put32(r + 17, ox);
                put32(r + 21, oy);
                box(r + 25, true, x0, y0, x1, y1, ox, oy);
            } else {
                pair(r + 13, false, ox, oy, 0, 0);
                box(r + 21, false, x0, y0, x1, y1, 0, 0);
            }
            *last = std::byte{over ? overLimit(kPenLimit) : styleIndex(kPenLimit)};
            break;
        }
        case Shape::Region:
        case Shape::MultiLine: {
            const std::size_t coordAt = m_coords.size();
            const std::size_t size = vertices(c, true, ox, oy, x0, y0, x1, y1);
            m_pending.push_back({recordAt, coordAt});
            put32(r + 9, static_cast<std::int64_t>(size));
            put16(r + 13, 1); // sections
            if (c) {
                pair(r + 15, true, ox, oy, ox, oy);
                put32(r + 19, ox);
                put32(r + 23, oy);
                box(r + 27, true, x0, y0, x1, y1, ox, oy);
            } else {
                pair(r + 15, false, ox, oy, 0, 0);
                box(r + 23, false, x0, y0, x1, y1, 0, 0);
            }
            if (t.shape == Shape::Region) {
                last[-1] = std::byte{styleIndex(kPenLimit)};
                *last = std::byte{over ? overLimit(kBrushLimit) : styleIndex(kBrushLimit)};
            } else {
                *last = std::byte{styleIndex(kPenLimit)}; // class none: never checked
                return;
            }
            break;
        }
        case Shape::Text: {
            static constexpr std::array<std::string_view, 4> kLabels{"Main St", "Parcel 12/7", "North gate",
                                                                     "Riverside Park"};
            const auto label = kLabels[m_rnd.below(kLabels.size())];
            const std::size_t coordAt = coordBytes(label.size());
            std::memcpy(m_coords.data() + coordAt, label.data(), label.size());
            m_pending.push_back({recordAt, coordAt});
            put16(r + 9, static_cast<std::int32_t>(label.size()));
            put16(r + 13, m_rnd.between(0, 3599)); // angle
            r[17] = std::byte{0xFF};               // foreground colour, red
            pair(r + 23, c, x0, y0, cx, cy);       // label line end
            if (c) {
                put16(r + 27, 120);
                r[29] = std::byte{styleIndex(kFontLimit)};
                box(r + 30, true, x0, y0, x1, y1, cx, cy);
            } else {
                put32(r + 31, 120);
                r[35] = std::byte{styleIndex(kFontLimit)};
                box(r + 36, false, x0, y0, x1, y1, cx, cy);
            }
            *last = std::byte{over ? overLimit(kPenLimit) : styleIndex(kPenLimit)}; // label line pen
            break;
        }
        case Shape::Box:
        case Shape::RoundBox: {
            std::size_t at = 5;
            if (t.shape == Shape::RoundBox) {
                if (c) {
                    put16(r + 5, 50);
                    put16(r + 7, 50);
                    at = 9;
                } else {
                    put32(r + 5, 50);
                    put32(r + 9, 50);
                    at = 13;
                }
            }
            box(r + at, c, x0, y0, x1, y1, cx, cy);
            last[-1] = std::byte{styleIndex(kPenLimit)};
            *last = std::byte{over ? overLimit(kBrushLimit) : styleIndex(kBrushLimit)};
            break;
        }
        }
        if (over)
            ++m_sum.styleOverLimit;
    }

    void writeHeader()
    {
        mapfile::Block h{};
        mapfile::Header header;
        header.styleLimits = {kPenLimit, kBrushLimit, kSymbolLimit, kFontLimit};
        if (m_sum.objects > m_sum.classCounts[4])
            header.box = {m_bounds.minX, m_bounds.minY, m_bounds.maxX, m_bounds.maxY};
        // Live objects only: the counts of a table after its deletions, which the recovery rebuilds.
        for (std::size_t c = 0; c < 4; ++c)
            header.classCounts[c] = static_cast<std::int32_t>(m_liveClassCounts[c]);
        mapfile::putHeader(h, header);
        put16(&h[kVersionOffset], 300);
        putDouble(&h[kUnitsRatioOffset], 1.0);
        put32(&h[kMaxCoordBufOffset], static_cast<std::int64_t>(m_maxCoordBuf));
        h[kCoordPrecisionOffset] = std::byte{3};
        h[kOriginQuadrantOffset] = std::byte{1};
        putDouble(&h[kScaleOffset], 1000.0);
        putDouble(&h[kScaleOffset + 8], 1000.0);

        std::fstream f(m_mapPath, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(0);
        f.write(reinterpret_cast<const char*>(h.data()), static_cast<std::streamsize>(h.size()));
        f.close();
        if (!f)
            throw std::runtime_error("cannot write " + m_mapPath);
    }

    std::string m_mapPath;
    Output m_map;
    Output m_id;
    const TableRecipe& m_recipe;
    TableSummary& m_sum;
    Random m_rnd;
    std::uint32_t m_typeWeights = 0;
    const ObjectType* m_nextType = nullptr;
    std::uint64_t m_offset = 0;
    std::vector<std::byte> m_coords;
    std::vector<Pending> m_pending;
    std::size_t m_maxCoordBuf = 0;
    std::uint32_t m_liveClassCounts[5] = {};
    Bounds m_bounds;
};

void appendField(std::string& s, const char* name, std::uint64_t v, bool last = false)
{
    s += "  \"";
    s += name;
    s += "\": ";
    s += std::to_string(v);
    s += last ? "\n" : ",\n";
}

} // namespace

std::string TableSummary::json() const
{
    std::string s = "{\n  \"tab\": \"";
    for (char c : tabPath) {
        if (c == '"' || c == '\\')
            s += '\\';
        s += c;
    }
    s += "\",\n";
    appendField(s, "rows", rows);
    appendField(s, "deleted_rows", deletedRows);
    appendField(s, "objects", objects);
    appendField(s, "deleted_objects", deletedObjects);
    appendField(s, "points", classCounts[0]);
    appendField(s, "lines", classCounts[1]);
    appendField(s, "areas", classCounts[2]);
    appendField(s, "texts", classCounts[3]);
    appendField(s, "unclassed", classCounts[4]);
    appendField(s, "style_over_limit", styleOverLimit);
    appendField(s, "object_blocks", objectBlocks);
    appendField(s, "coord_blocks", coordBlocks);
    appendField(s, "other_blocks", otherBlocks);
    appendField(s, "garbage_blocks", garbageBlocks);
    appendField(s, "dat_bytes", datBytes);
    appendField(s, "map_bytes", mapBytes);
    appendField(s, "id_bytes", idBytes, true);
    s += "}\n";
    return s;
}

TableSummary writeSyntheticTable(const std::string& folder, const std::string& baseName,
                                 const TableRecipe& recipe)
{
    TableSummary sum;
    const std::string stem = (std::filesystem::path(folder) / baseName).string();
    sum.tabPath = stem + ".TAB";
    {
        Output tab(sum.tabPath);
        tab.write(tabText());
        tab.close();
    }
    writeDat(stem + ".DAT", recipe, sum);
    MapWriter(stem + ".MAP", stem + ".ID", recipe, sum).run();
    return sum;
}

} // namespace tabrescue::bench
