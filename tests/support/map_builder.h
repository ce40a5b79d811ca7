#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/files.h"

namespace tabrescue::test {

// One object record: type code, row field (deletion bits included) and the bytes after the row
// field. Without explicit bytes a record of known length gets a body of filler bytes above every
// style limit the builder uses, with its style index bytes set to 1.
struct MapObject
{
    std::uint8_t type = 0;
    std::uint32_t rowField = 0;
    std::optional<Bytes> body;
    // Style index bytes counted back from the record's last byte (0 = last byte).
    std::vector<std::pair<std::size_t, std::uint8_t>> styles;

    static MapObject of(std::uint8_t type, std::uint32_t rowField)
    {
        return {type, rowField, std::nullopt, {}};
    }
    static MapObject raw(std::uint8_t type, std::uint32_t rowField, Bytes body)
    {
        return {type, rowField, std::move(body), {}};
    }
    MapObject& style(std::size_t beforeLast, std::uint8_t value)
    {
        styles.emplace_back(beforeLast, value);
        return *this;
    }
    Bytes bytes() const;
};

// Writes a .MAP file: a header block with the magic number, block size, four style limits and
// object counts, a second block, then blocks of any kind in the order they are added.
class MapBuilder
{
  public:
    MapBuilder();

    MapBuilder& styleLimits(std::uint8_t pen, std::uint8_t brush, std::uint8_t symbol, std::uint8_t font);
    MapBuilder& counts(std::int32_t points, std::int32_t lines, std::int32_t areas, std::int32_t texts);
    MapBuilder& blockSize(std::uint16_t size); // as the header states it
    MapBuilder& noMagic();
    MapBuilder& headerByte(std::size_t at, std::uint8_t value);
    MapBuilder& headerLE32(std::size_t at, std::uint32_t value);
    MapBuilder& secondBlock(const Bytes& content);

    // An object data block holding `objects` back to back from offset 20; used is their total
    // length unless given. Records that would run past the block are cut at its end.
    MapBuilder& objectBlock(const std::vector<MapObject>& objects, std::optional<std::int16_t> used = {});
    // A block of any type: the type byte, then `content` (cut or padded with zeros to 511 bytes).
    MapBuilder& block(std::uint8_t type, const Bytes& content = {});
    // Overwrites bytes of the last block added from block offset `at` (a block centre, say).
    MapBuilder& patchLastBlock(std::size_t at, const Bytes& bytes);
    // The file ends `keep` bytes into the last block added.
    MapBuilder& truncateLastBlock(std::size_t keep);
    // The file is cut to `size` bytes (header included).
    MapBuilder& truncateTo(std::size_t size);

    // Offset of block i counted from the first added block (block 0 lies at 1024).
    static std::uint64_t blockOffset(std::size_t i) { return 1024 + 512 * i; }
    // Offset of record j of the added block i.
    std::uint64_t recordOffset(std::size_t block, std::size_t record) const;

    Bytes bytes() const;
    void write(const std::filesystem::path& p) const;

  private:
    Bytes m_header;
    Bytes m_second;
    std::vector<Bytes> m_blocks;
    std::vector<std::vector<std::size_t>> m_recordStarts; // per block, offsets in the block
    std::optional<std::size_t> m_size;
};

// One row of the geometry result as the layouts describe it.
struct MapResultRow
{
    std::uint64_t offset; // of the object in the .MAP
    std::uint32_t rowIdOld;
    std::string status; // the four rec_status characters
};
// The geometry result's .DAT for these rows (row i has RowId_new i + 1), built field by field.
Bytes expectedMapResultDat(const std::vector<MapResultRow>& rows);
// The geometry result's .ID for these rows.
Bytes expectedMapResultId(const std::vector<MapResultRow>& rows);

// A table with .TAB, .DAT (one field), .MAP and .ID in `folder`; returns the .TAB path.
std::string writeMapTable(const std::filesystem::path& folder, const std::string& baseName,
                          const MapBuilder& map);

} // namespace tabrescue::test
