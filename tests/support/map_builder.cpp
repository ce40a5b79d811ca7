#include "support/map_builder.h"

#include <stdexcept>

#include "map/map_layout.h"
#include "support/table_builders.h"

namespace tabrescue::test {

namespace {

// Style index bytes counted back from the last byte: the test's own account, so a misplaced check shows.
std::vector<std::size_t> styleBytes(std::uint8_t type)
{
    if (type == 0x10 || type == 0x11) // font, then the label line's pen
        return {type == 0x10 ? 9u : 17u, 0};
    if ((type >= 0x0D && type <= 0x0F) || (type >= 0x13 && type <= 0x1B)) // brush, pen
        return {0, 1};
    if (type >= 0x01 && type <= 0x0C) // symbol or pen
        return {0};
    return {};
}

} // namespace

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
        for (std::size_t i = 5; i < static_cast<std::size_t>(t.length); ++i)
            b.push_back(static_cast<std::byte>(0xC0 | (i & 0x3F)));
        for (std::size_t beforeLast : styleBytes(type))
            b[b.size() - 1 - beforeLast] = std::byte{1};
    }
    for (const auto& [beforeLast, value] : styles)
        b.at(b.size() - 1 - beforeLast) = static_cast<std::byte>(value);
    return b;
}

MapBuilder::MapBuilder() : m_data(1024)
{
    for (std::size_t i = 0; i < 1024; ++i) // recognisable bytes, so a stray write shows
        m_data[i] = static_cast<std::byte>((i * 7 + 3) & 0xFF);
    // The block after the header looks like object data holding a deleted point, yet is never walked.
    const Bytes second = {std::byte{0x02}, std::byte{0}, std::byte{10}, std::byte{0}};
    std::copy(second.begin(), second.end(), m_data.begin() + 512);
    const Bytes point = MapObject::of(0x01, 0x40000001).bytes();
    std::copy(point.begin(), point.end(), m_data.begin() + 532);
    put32(304, 0).put32(316, 0).put32(320, 0).put32(324, 0).put32(328, 0).put32(256, 42424242);
    blockSize(512).styleLimits(10, 10, 10, 10);
}

MapBuilder& MapBuilder::put32(std::size_t at, std::int64_t value)
{
    putLE32(m_data, at, static_cast<std::uint32_t>(value));
    return *this;
}

MapBuilder& MapBuilder::styleLimits(std::uint8_t pen, std::uint8_t brush, std::uint8_t symbol,
                                    std::uint8_t font)
{
    return put32(356, pen | brush << 8 | symbol << 16 | std::int64_t{font} << 24);
}

MapBuilder& MapBuilder::blockSize(std::uint16_t size)
{
    putLE16(m_data, 262, size);
    return *this;
}

MapBuilder& MapBuilder::objectBlock(const std::vector<MapObject>& objects, std::optional<std::int16_t> used)
{
    Bytes b(19); // after the type byte
    for (std::size_t i = 3; i < 19; ++i)
        b[i] = static_cast<std::byte>(0x41 + i);
    std::vector<std::size_t> starts;
    for (const MapObject& o : objects) {
        starts.push_back(b.size() + 1);
        const Bytes r = o.bytes();
        b.insert(b.end(), r.begin(), r.end());
    }
    putLE16(b, 1, static_cast<std::uint16_t>(used.value_or(static_cast<std::int16_t>(b.size() - 19))));
    block(0x02, b);
    m_recordStarts.back() = std::move(starts);
    return *this;
}

MapBuilder& MapBuilder::block(std::uint8_t type, const Bytes& content)
{
    m_data.push_back(std::byte{type});
    m_data.insert(m_data.end(), content.begin(),
                  content.begin() + std::min<std::ptrdiff_t>(content.size(), 511));
    m_data.resize((m_data.size() + 511) / 512 * 512);
    m_recordStarts.emplace_back();
    return *this;
}

Bytes leBytes(std::size_t size, const std::vector<LeRun>& runs)
{
    Bytes b(size);
    for (const LeRun& r : runs)
        for (std::size_t i = 0; i < r.values.size(); ++i)
            for (std::size_t k = 0; k < r.width; ++k)
                if (r.at + i * r.width + k < size)
                    b[r.at + i * r.width + k] = static_cast<std::byte>(r.values[i] >> (8 * k));
    return b;
}

Bytes expectedMapResultDat(const std::vector<MapResultRow>& rows)
{
    Bytes b{std::byte{0x03}, std::byte{115}, std::byte{3}, std::byte{29}}; // 2015-03-29
    appendLE32(b, static_cast<std::uint32_t>(rows.size()));
    appendLE16(b, 161);
    appendLE16(b, 17);
    b.resize(32);
    for (const std::string name : {"RowId_new", "RowId_old", "rec_map_of", "rec_status"}) {
        Bytes d = toBytes(name);
        d.resize(32);
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
        const Bytes status = toBytes(r.status);
        b.insert(b.end(), status.begin(), status.end());
    }
    b.push_back(std::byte{'*'});
    for (int i = 0; i < 3; ++i)
        appendLE32(b, 0x00FFFFFF);
    const Bytes end = toBytes("D   \x1A");
    b.insert(b.end(), end.begin(), end.end());
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
