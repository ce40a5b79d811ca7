#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "io/binary_file.h"

namespace tabrescue {

class BinaryFile;
class RunLog;

namespace map {

// One object record as the walk meets it.
struct MapRecord
{
    std::uint64_t offset = 0; // of its type byte in the file
    std::uint8_t code = 0;
    std::int16_t length = 0; // 0: unknown type; the walk leaves the block after this record
    std::uint32_t rowField = 0;
    // The record's bytes as far as they lie in the file (its 5 header bytes when its length is
    // unknown); a visitor may change them when the walk writes a copy.
    std::span<std::byte> bytes;
};

// Why the walk of an object data block ended.
enum class BlockEnd {
    Complete,    // the record area was used up
    UnknownType, // after a record of unknown length
    Damaged,     // a record ran past the end of the block
    EndOfFile,   // the file ends inside the record area
};

// What the walk reports. `block` holds the block's bytes as far as they lie in the file.
class BlockVisitor
{
  public:
    virtual ~BlockVisitor() = default;
    virtual void objectBlock(std::uint64_t /*offset*/, std::span<std::byte> /*block*/) {}
    virtual void record(const MapRecord& rec, std::span<std::byte> block) = 0;
    virtual void objectBlockEnd(std::uint64_t /*offset*/, std::span<std::byte> /*block*/, BlockEnd /*how*/) {}
    // Every block from offset 1024 on that is not an object data block.
    virtual void otherBlock(std::uint64_t /*offset*/, std::uint8_t /*type*/) {}
};

// Throws when the walk cannot serve the file: its header announces a block size other than 512
// (error 5), or the file lies beyond 32-bit offsets (error 6). `head` is the start of the file.
void checkWalkable(std::span<const std::byte> head, std::uint64_t fileSize);

struct WalkOptions
{
    // When set, the walk writes every chunk there at its own offset after the visitor has seen
    // it: a copy of the whole file with the visitor's changes. On an error the rest of the file
    // is still copied unchanged before the error goes on.
    BinaryFile* copyTo = nullptr;
    std::size_t chunkSize = kStreamBufferSize; // rounded down to whole blocks
};

// Walks the object data blocks from offset 1024 in 512-byte steps, reading the file in chunks.
// Writes the unknown-element and damaged-block lines itself; throws error 6 for a used count
// above 32747.
void walkBlocks(BinaryFile& file, RunLog* log, BlockVisitor& visitor, const WalkOptions& options = {});

} // namespace map
} // namespace tabrescue
