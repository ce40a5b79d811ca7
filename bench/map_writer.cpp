#include "map_writer.h"

#include <algorithm>

namespace tabrescue::mapfile {

void put16(std::span<std::byte> to, std::size_t at, std::int64_t v)
{
    to[at] = static_cast<std::byte>(v & 0xFF);
    to[at + 1] = static_cast<std::byte>((v >> 8) & 0xFF);
}

void put32(std::span<std::byte> to, std::size_t at, std::int64_t v)
{
    for (std::size_t i = 0; i < 4; ++i)
        to[at + i] = static_cast<std::byte>((v >> (8 * i)) & 0xFF);
}

void putHeader(std::span<std::byte> file, const Header& header)
{
    put32(file, 256, 42424242); // the magic number that makes the block size count
    put16(file, 262, header.blockSize);
    if (header.box)
        for (std::size_t i = 0; i < 4; ++i)
            put32(file, 272 + 4 * i, (*header.box)[i]);
    put32(file, 304, 0);
    for (std::size_t i = 0; i < 4; ++i) {
        put32(file, 316 + 4 * i, header.classCounts[i]);
        file[356 + i] = std::byte{header.styleLimits[i]};
    }
}

Block block(std::uint8_t type, std::span<const std::byte> rest)
{
    Block b{};
    b[0] = std::byte{type};
    std::copy_n(rest.begin(), std::min(rest.size(), kBlockSize - 1), b.begin() + 1);
    return b;
}

ObjectBlock::ObjectBlock(std::int32_t centreX, std::int32_t centreY)
{
    m_block[0] = std::byte{0x02};
    put32(m_block, 4, centreX);
    put32(m_block, 8, centreY);
}

std::span<std::byte> ObjectBlock::add(std::uint8_t type, std::uint32_t rowField, std::size_t length)
{
    const std::size_t at = std::min(kHeaderSize + m_used, kBlockSize);
    m_used += length;
    const std::span<std::byte> record = std::span(m_block).subspan(at, std::min(length, kBlockSize - at));
    if (record.size() >= 5) {
        record[0] = std::byte{type};
        put32(record, 1, rowField);
    }
    return record;
}

Block& ObjectBlock::bytes()
{
    put16(m_block, 2, static_cast<std::int64_t>(m_used));
    return m_block;
}

} // namespace tabrescue::mapfile
