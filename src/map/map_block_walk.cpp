#include "map/map_block_walk.h"

#include <algorithm>
#include <vector>

#include "base/byte_order.h"
#include "base/recover_error.h"
#include "base/run_log.h"
#include "base/text_format.h"
#include "io/file_system.h"
#include "map/map_layout.h"
#include "map/map_object_types.h"

namespace tabrescue {

namespace map {

void checkWalkable(std::span<const std::byte> head, std::uint64_t fileSize)
{
    if (fileSize > kMaxFileSize)
        throwOverflow();
    // Without the magic number the header is damaged, and 512 is the only size worth trying.
    if (head.size() < kBlockSizeCheckSize || readLE32(head, kMagicOffset) != kMagic)
        return;
    const std::uint16_t size = readLE16(head, kBlockSizeOffset);
    if (size != kBlockSize)
        throw RecoverError(kErrInvalidCall, "Unsupported .MAP block size " + std::to_string(size) +
                                                " (only 512 is supported)");
}

namespace {

void logDamaged(RunLog* log, std::uint64_t blockOffset)
{
    std::string line = "!!! Damaged 'ODBlock' at offset: ";
    appendDecimal(line, blockOffset, 8);
    line += " objects run past the end of the block; the rest of it is ignored.";
    LogStr_to_TxtBox(log, line, "");
}

// `block` is the block's bytes as far as they lie in the file; `inFile` is how many bytes of
// the file lie from the block's start on (it may exceed the block).
void walkObjectBlock(std::uint64_t blockOffset, std::span<std::byte> block, std::uint64_t inFile, RunLog* log,
                     BlockVisitor& visitor)
{
    visitor.objectBlock(blockOffset, block);
    if (block.size() < kUsedOffset + 2) {
        visitor.objectBlockEnd(blockOffset, block, BlockEnd::EndOfFile);
        return;
    }
    const std::int16_t used = readLE16s(block, kUsedOffset);
    if (used > kMaxUsed)
        throwOverflow();
    const std::int64_t areaEnd = std::int64_t{kObjectBlockHeaderSize} + used; // below 20 when used < 0

    BlockEnd how = BlockEnd::Complete;
    for (std::size_t rel = kObjectBlockHeaderSize; static_cast<std::int64_t>(rel) < areaEnd;) {
        // The end of the file ends the block quietly; the end of the block only after the file.
        if (rel + kRecordHeaderSize > inFile) {
            how = BlockEnd::EndOfFile;
            break;
        }
        if (rel + kRecordHeaderSize > kBlockSize) {
            how = BlockEnd::Damaged;
            break;
        }
        const auto code = std::to_integer<std::uint8_t>(block[rel + kRecordTypeOffset]);
        // The table answers for known codes; the lookup that logs is needed only for the others.
        std::int16_t length = geoType(code).length;
        if (length == 0)
            length = getGeoTypeLength(code, log, blockOffset + rel);
        if (length > 0 && rel + static_cast<std::size_t>(length) > kBlockSize) {
            how = BlockEnd::Damaged;
            break;
        }
        const std::size_t span = length > 0 ? static_cast<std::size_t>(length) : kRecordHeaderSize;
        const std::size_t end = std::min(rel + span, block.size());
        MapRecord rec;
        rec.offset = blockOffset + rel;
        rec.code = code;
        rec.length = length;
        rec.rowField = readLE32(block, rel + kRecordRowFieldOffset);
        rec.bytes = block.subspan(rel, end - rel);
        visitor.record(rec, block);
        if (length == 0) {
            how = BlockEnd::UnknownType;
            break;
        }
        rel += static_cast<std::size_t>(length);
    }
    if (how == BlockEnd::Damaged)
        logDamaged(log, blockOffset);
    visitor.objectBlockEnd(blockOffset, block, how);
}

// Copies [pos, size) of `from` to the same place in `to` through `buf`.
void copyRest(BinaryFile& from, BinaryFile& to, std::uint64_t pos, std::uint64_t size,
              std::span<std::byte> buf)
{
    while (pos < size) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), size - pos));
        const std::size_t n = from.readAt(pos, std::span<std::byte>(buf.data(), want));
        if (n == 0)
            return;
        to.writeAt(pos, std::span<const std::byte>(buf.data(), n));
        pos += n;
    }
}

} // namespace

void walkBlocks(BinaryFile& file, RunLog* log, BlockVisitor& visitor, const WalkOptions& options)
{
    const std::uint64_t size = file.size();
    const std::size_t chunk = std::max(kBlockSize, options.chunkSize / kBlockSize * kBlockSize);
    const auto bufLen = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, size));
    ScratchBuffer scratch(bufLen);
    const std::span<std::byte> buf(scratch.data(), bufLen);

    for (std::uint64_t pos = 0; pos < size;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), size - pos));
        const std::size_t got = file.readAt(pos, std::span<std::byte>(buf.data(), want));
        if (got == 0)
            break; // the file shrank under us
        const std::uint64_t fileEnd = got < want ? pos + got : size;
        const std::span<std::byte> data(buf.data(), got);
        if (pos == 0)
            checkWalkable(data, size);
        try {
            for (std::size_t b = 0; b < got; b += kBlockSize) {
                const std::uint64_t blockOffset = pos + b;
                if (blockOffset < kFirstWalkedBlock)
                    continue;
                const std::span<std::byte> block = data.subspan(b, std::min(kBlockSize, got - b));
                const auto type = std::to_integer<std::uint8_t>(block[0]);
                if (type == kObjectDataBlock)
                    walkObjectBlock(blockOffset, block, fileEnd - blockOffset, log, visitor);
                else
                    visitor.otherBlock(blockOffset, type);
            }
        } catch (...) {
            // A copy that stops here keeps the visitor's changes so far and the rest unchanged,
            // as a copy patched in place would. The first error is the one that counts.
            if (options.copyTo != nullptr) {
                try {
                    options.copyTo->writeAt(pos, data);
                    copyRest(file, *options.copyTo, pos + got, size, buf);
                } catch (...) {
                }
            }
            throw;
        }
        if (options.copyTo != nullptr)
            options.copyTo->writeAt(pos, data);
        if (got < want)
            break;
        pos += got;
    }
}

} // namespace map
} // namespace tabrescue
