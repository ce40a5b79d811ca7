#pragma once

// Writes the blocks of a .MAP file from their parts: the benchmark tables are streamed with it and
// the tests build their fixtures with it. It keeps its own account of the layout, apart from the
// core's, so that a fixture cannot repeat a mistake of the reader it feeds.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tabrescue::mapfile {

inline constexpr std::size_t kBlockSize = 512;
using Block = std::array<std::byte, kBlockSize>;

// Little-endian, the low 16 or 32 bits of `v`.
void put16(std::span<std::byte> to, std::size_t at, std::int64_t v);
void put32(std::span<std::byte> to, std::size_t at, std::int64_t v);

struct Header
{
    std::uint16_t blockSize = kBlockSize;
    std::optional<std::array<std::int32_t, 4>> box; // XMin, YMin, XMax, YMax; unset: left as it is
    std::array<std::int32_t, 4> classCounts{};      // point, line, area, text
    std::array<std::uint8_t, 4> styleLimits{};      // pen, brush, symbol, font
};

// Writes these fields, the magic number and an empty spatial index root into the header at the
// start of `file`; every other byte keeps its value.
void putHeader(std::span<std::byte> file, const Header& header);

// A block of `type` whose bytes after the type byte are `rest`, cut at the block's end.
Block block(std::uint8_t type, std::span<const std::byte> rest = {});

// An object data block, filled with records back to back from byte 20.
class ObjectBlock
{
  public:
    static constexpr std::size_t kHeaderSize = 20;
    ObjectBlock(std::int32_t centreX, std::int32_t centreY);

    bool fits(std::size_t length) const { return kHeaderSize + m_used + length <= kBlockSize; }
    // Adds a record of `length` bytes with its type and row field and returns its bytes from the
    // type byte on, cut at the block's end.
    std::span<std::byte> add(std::uint8_t type, std::uint32_t rowField, std::size_t length);
    std::size_t used() const { return m_used; }
    // The block, its used count holding every record byte added, cut or not.
    Block& bytes();

  private:
    Block m_block{};
    std::size_t m_used = 0;
};

} // namespace tabrescue::mapfile
