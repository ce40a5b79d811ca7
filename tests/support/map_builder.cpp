#include "support/map_builder.h"

#include <algorithm>

#include "map/map_layout.h"
#include "map_writer.h"

namespace tabrescue::test {

Bytes MapObject::bytes() const
{
    Bytes b{static_cast<std::byte>(type)};
    appendLE32(b, rowField);
    if (body) {
        b.insert(b.end(), body->begin(), body->end());
    } else {
        for (std::size_t i = 5; i < static_cast<std::size_t>(map::geoType(type).length); ++i)
            b.push_back(static_cast<std::byte>(0xC0 | (i & 0x3F)));
        // Style index bytes by the test's own account, so a misplaced check shows: the font of a text lies
        // before its label box, an area keeps its pen before its brush.
        const std::size_t last = b.size() - 1;
        if (type == 0x10 || type == 0x11)
            b[last - (type == 0x10 ? 9 : 17)] = std::byte{1};
        if ((type >= 0x0D && type <= 0x0F) || (type >= 0x13 && type <= 0x1B))
            b[last - 1] = std::byte{1};
        if (type >= 0x01 && type <= 0x1B)
            b[last] = std::byte{1};
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
    const Bytes point = MapObject::of(0x01, 0x40000001).bytes();
    std::copy(point.begin(), point.end(), m_data.begin() + 532);
    put32(512, 0x000A0002); // type 2, used 10
    mapfile::Header header;
    header.styleLimits = {10, 10, 10, 10};
    mapfile::putHeader(m_data, header);
}

MapBuilder& MapBuilder::put32(std::size_t at, std::int64_t value)
{
    return mapfile::put32(m_data, at, value), *this;
}

MapBuilder& MapBuilder::styleLimits(std::uint8_t pen, std::uint8_t brush, std::uint8_t symbol,
                                    std::uint8_t font)
{
    return put32(356, pen | brush << 8 | symbol << 16 | std::int64_t{font} << 24);
}

MapBuilder& MapBuilder::blockSize(std::uint16_t size)
{
    return mapfile::put16(m_data, 262, size), *this;
}

MapBuilder& MapBuilder::objectBlock(const std::vector<MapObject>& objects, std::optional<std::int16_t> used)
{
    mapfile::ObjectBlock block(0, 0);
    std::vector<std::size_t> starts;
    for (const MapObject& o : objects) {
        const Bytes r = o.bytes();
        starts.push_back(mapfile::ObjectBlock::kHeaderSize + block.used());
        const std::span<std::byte> to = block.add(o.type, o.rowField, r.size());
        std::copy_n(r.begin(), to.size(), to.begin());
    }
    mapfile::Block& b = block.bytes();
    for (std::size_t i = 4; i < 20; ++i) // recognisable centre and coordinate block offsets
        b[i] = static_cast<std::byte>(0x40 + i);
    if (used)
        mapfile::put16(b, 2, *used);
    m_data.insert(m_data.end(), b.begin(), b.end());
    m_starts.push_back(std::move(starts));
    return *this;
}

MapBuilder& MapBuilder::block(std::uint8_t type, const Bytes& content)
{
    const mapfile::Block b = mapfile::block(type, content);
    m_data.insert(m_data.end(), b.begin(), b.end());
    m_starts.emplace_back();
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

} // namespace tabrescue::test
