#include "support/map_builder.h"

#include <stdexcept>

#include "map/map_layout.h"
#include "support/table_builders.h"

namespace tabrescue::test {

namespace {
constexpr std::size_t kBlock = 512;
}

Bytes MapObject::bytes() const
{
    Bytes b{static_cast<std::byte>(type)};
    appendLE32(b, rowField);
    if (body) {
        b.insert(b.end(), body->begin(), body->end());
    } else {
        const map::GeoType& t = map::geoType(type);
        if (t.length == 0)
            throw std::invalid_argument("a record of unknown type needs its bytes");
        const auto length = static_cast<std::size_t>(t.length);
        for (std::size_t i = 5; i < length; ++i) // above any limit a test uses
            b.push_back(static_cast<std::byte>(0xC0 | (i & 0x3F)));
        for (std::size_t i = 0; i < t.styleCount; ++i)
            b[length - 1 - t.styles[i].beforeLast] = std::byte{1};
    }
    for (const auto& [beforeLast, value] : styles)
        b.at(b.size() - 1 - beforeLast) = static_cast<std::byte>(value);
    return b;
}

MapBuilder::MapBuilder() : m_header(kBlock), m_second(kBlock)
{
    // Recognisable bytes everywhere, so a stray write shows.
    for (std::size_t i = 0; i < kBlock; ++i) {
        m_header[i] = static_cast<std::byte>((i * 7 + 3) & 0xFF);
        m_second[i] = static_cast<std::byte>((i * 5 + 1) & 0xFF);
    }
    m_second[0] = std::byte{0x01};
    putLE32(m_header, 256, 42424242);
    putLE16(m_header, 260, 500);
    putLE16(m_header, 262, 512);
    styleLimits(10, 10, 10, 10);
    counts(0, 0, 0, 0);
    putLE32(m_header, 304, 0);
}

MapBuilder& MapBuilder::styleLimits(std::uint8_t pen, std::uint8_t brush, std::uint8_t symbol,
                                    std::uint8_t font)
{
    m_header[356] = std::byte{pen};
    m_header[357] = std::byte{brush};
    m_header[358] = std::byte{symbol};
    m_header[359] = std::byte{font};
    return *this;
}

MapBuilder& MapBuilder::counts(std::int32_t points, std::int32_t lines, std::int32_t areas,
                               std::int32_t texts)
{
    putLE32(m_header, 316, static_cast<std::uint32_t>(points));
    putLE32(m_header, 320, static_cast<std::uint32_t>(lines));
    putLE32(m_header, 324, static_cast<std::uint32_t>(areas));
    putLE32(m_header, 328, static_cast<std::uint32_t>(texts));
    return *this;
}

MapBuilder& MapBuilder::blockSize(std::uint16_t size)
{
    putLE16(m_header, 262, size);
    return *this;
}

MapBuilder& MapBuilder::noMagic()
{
    putLE32(m_header, 256, 0);
    return *this;
}

MapBuilder& MapBuilder::headerByte(std::size_t at, std::uint8_t value)
{
    m_header.at(at) = std::byte{value};
    return *this;
}

MapBuilder& MapBuilder::headerLE32(std::size_t at, std::uint32_t value)
{
    putLE32(m_header, at, value);
    return *this;
}

MapBuilder& MapBuilder::secondBlock(const Bytes& content)
{
    m_second = content;
    m_second.resize(kBlock);
    return *this;
}

MapBuilder& MapBuilder::objectBlock(const std::vector<MapObject>& objects, std::optional<std::int16_t> used)
{
    Bytes b(20);
    b[0] = std::byte{0x02};
    for (std::size_t i = 4; i < 20; ++i)
        b[i] = static_cast<std::byte>(0x40 + i);
    std::vector<std::size_t> starts;
    for (const MapObject& o : objects) {
        starts.push_back(b.size());
        const Bytes r = o.bytes();
        b.insert(b.end(), r.begin(), r.end());
    }
    putLE16(b, 2, static_cast<std::uint16_t>(used ? *used : static_cast<std::int16_t>(b.size() - 20)));
    b.resize(kBlock); // a record that would run past the block is cut there

    m_blocks.push_back(std::move(b));
    m_recordStarts.push_back(std::move(starts));
    return *this;
}

MapBuilder& MapBuilder::block(std::uint8_t type, const Bytes& content)
{
    Bytes b{std::byte{type}};
    b.insert(b.end(), content.begin(), content.end());
    b.resize(kBlock);
    m_blocks.push_back(std::move(b));
    m_recordStarts.emplace_back();
    return *this;
}

MapBuilder& MapBuilder::patchLastBlock(std::size_t at, const Bytes& bytes)
{
    Bytes& b = m_blocks.at(m_blocks.size() - 1);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        b.at(at + i) = bytes[i];
    return *this;
}

MapBuilder& MapBuilder::truncateLastBlock(std::size_t keep)
{
    m_size = 1024 + kBlock * (m_blocks.size() - 1) + keep;
    return *this;
}

MapBuilder& MapBuilder::truncateTo(std::size_t size)
{
    m_size = size;
    return *this;
}

std::uint64_t MapBuilder::recordOffset(std::size_t block, std::size_t record) const
{
    return blockOffset(block) + m_recordStarts.at(block).at(record);
}

Bytes MapBuilder::bytes() const
{
    Bytes out = m_header;
    out.insert(out.end(), m_second.begin(), m_second.end());
    for (const Bytes& b : m_blocks)
        out.insert(out.end(), b.begin(), b.end());
    if (m_size)
        out.resize(*m_size);
    return out;
}

void MapBuilder::write(const std::filesystem::path& p) const
{
    writeBytes(p, bytes());
}

Bytes expectedMapResultDat(const std::vector<MapResultRow>& rows)
{
    Bytes b{std::byte{0x03}, std::byte{115}, std::byte{3}, std::byte{29}}; // 2015-03-29
    appendLE32(b, static_cast<std::uint32_t>(rows.size()));
    appendLE16(b, 161);
    appendLE16(b, 17);
    b.resize(32);
    for (const char* name : {"RowId_new", "RowId_old", "rec_map_of", "rec_status"}) {
        Bytes d(32);
        for (std::size_t i = 0; name[i] != '\0'; ++i)
            d[i] = static_cast<std::byte>(name[i]);
        d[11] = std::byte{'C'};
        d[16] = std::byte{4};
        b.insert(b.end(), d.begin(), d.end());
    }
    b.push_back(std::byte{0x0D});
    std::uint32_t rowIdNew = 0;
    for (const MapResultRow& r : rows) {
        b.push_back(std::byte{' '});
        appendLE32(b, ++rowIdNew);
        appendLE32(b, r.rowIdOld);
        appendLE32(b, static_cast<std::uint32_t>(r.offset + 1));
        for (char c : r.status)
            b.push_back(static_cast<std::byte>(c));
    }
    b.push_back(std::byte{'*'});
    for (int i = 0; i < 3; ++i)
        appendLE32(b, 0x00FFFFFF);
    for (char c : std::string("D   \x1A"))
        b.push_back(static_cast<std::byte>(c));
    return b;
}

Bytes expectedMapResultId(const std::vector<MapResultRow>& rows)
{
    Bytes b;
    for (const MapResultRow& r : rows)
        appendLE32(b, static_cast<std::uint32_t>(r.offset));
    return b;
}

std::string writeMapTable(const std::filesystem::path& folder, const std::string& baseName,
                          const MapBuilder& map)
{
    const auto tab = folder / u8path(baseName + ".TAB");
    TabTextBuilder().field("NAME Char (8)").write(tab);
    DatBuilder().field("NAME", 8).rows(" ").write(folder / u8path(baseName + ".DAT"));
    map.write(folder / u8path(baseName + ".MAP"));
    writeBytes(folder / u8path(baseName + ".ID"), Bytes(4));
    return utf8(tab);
}

} // namespace tabrescue::test
