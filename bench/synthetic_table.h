#pragma once

// Large synthetic tables for the benchmarks: deterministic from a seed, streamed to disk, and
// shaped like tables from the field (mixed object types, coordinate blocks between the object
// data blocks, a few percent of rows and objects deleted, some style indexes above the limits).

#include <cstdint>
#include <string>

namespace tabrescue::bench {

struct TableRecipe
{
    std::uint32_t rows = 10000;
    std::uint64_t seed = 1;
    std::uint32_t deletedRowsPermille = 30;    // a deleted row takes its geometry with it
    std::uint32_t erasedObjectsPermille = 5;   // geometry deleted, row kept
    std::uint32_t styleOverLimitPermille = 10; // objects with a style index above its limit
    std::uint32_t garbageBlocks = 2;           // blocks of type 0x04, spread over the file
};

// Limits written to the .MAP header (pen, brush, symbol, font).
inline constexpr std::uint8_t kPenLimit = 12;
inline constexpr std::uint8_t kBrushLimit = 8;
inline constexpr std::uint8_t kSymbolLimit = 6;
inline constexpr std::uint8_t kFontLimit = 4;

inline constexpr std::uint32_t kRecordLength = 200; // status byte included

// What was written, for checks and for the report.
struct TableSummary
{
    std::string tabPath;
    std::uint32_t rows = 0;
    std::uint32_t deletedRows = 0;
    std::uint32_t objects = 0;
    std::uint32_t deletedObjects = 0;
    // Objects per class by type-code range, deleted ones included: point, line, area, text, none.
    std::uint32_t classCounts[5] = {};
    std::uint32_t styleOverLimit = 0; // objects written with at least one index above its limit
    std::uint32_t objectBlocks = 0;
    std::uint32_t coordBlocks = 0;
    std::uint32_t otherBlocks = 0; // index and tool blocks
    std::uint32_t garbageBlocks = 0;
    std::uint64_t datBytes = 0;
    std::uint64_t mapBytes = 0;
    std::uint64_t idBytes = 0;

    std::string json() const;
};

// Writes folder/baseName.{TAB,DAT,MAP,ID}, replacing files of those names. Throws
// std::runtime_error when a file cannot be written.
TableSummary writeSyntheticTable(const std::string& folder, const std::string& baseName,
                                 const TableRecipe& recipe);

} // namespace tabrescue::bench
