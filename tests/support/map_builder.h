#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/files.h"

namespace tabrescue::test {

// One object record. Without a body, a record of known length gets filler bytes above every style
// limit the tests use, its style index bytes 1; `styles` then sets bytes counted back from its last.
struct MapObject
{
    std::uint8_t type = 0;
    std::uint32_t rowField = 0;
    std::optional<Bytes> body; // after the row field
    std::vector<std::pair<std::size_t, std::uint8_t>> styles;

    static MapObject of(std::uint8_t type, std::uint32_t rowField) { return {type, rowField, {}, {}}; }
    static MapObject raw(std::uint8_t type, std::uint32_t row, Bytes body) { return {type, row, body, {}}; }
    MapObject& style(std::size_t back, std::uint8_t v) { return styles.emplace_back(back, v), *this; }
    Bytes bytes() const;
};

// A .MAP in memory: a header block (magic number, block size 512, style limits 10, counts 0), a
// second block, then the blocks added from 1024 on.
class MapBuilder
{
  public:
    MapBuilder();
    MapBuilder& styleLimits(std::uint8_t pen, std::uint8_t brush, std::uint8_t symbol, std::uint8_t font);
    MapBuilder& blockSize(std::uint16_t size);
    MapBuilder& put32(std::size_t at, std::int64_t value); // anywhere in the file built so far
    // Records back to back from offset 20, cut at the block's end; used is their length unless given.
    MapBuilder& objectBlock(const std::vector<MapObject>& objects, std::optional<std::int16_t> used = {});
    MapBuilder& block(std::uint8_t type, const Bytes& content = {}); // content follows the type byte
    MapBuilder& truncateLastBlock(std::size_t keep) { return truncateTo(m_data.size() - 512 + keep); }
    MapBuilder& truncateTo(std::size_t size) { return m_data.resize(size), *this; }
    auto recordOffset(std::size_t b, std::size_t r) const { return 512 * (b + 2) + m_starts.at(b).at(r); }
    const Bytes& bytes() const { return m_data; }
    void write(const std::filesystem::path& p) const { writeBytes(p, m_data); }

  private:
    Bytes m_data;
    std::vector<std::vector<std::size_t>> m_starts; // of the records, per added block
};

// `size` bytes holding runs of little-endian values, each run of one width from its offset.
struct LeRun
{
    std::size_t at, width;
    std::vector<std::int64_t> values;
};
Bytes leBytes(std::size_t size, const std::vector<LeRun>& runs);

} // namespace tabrescue::test
