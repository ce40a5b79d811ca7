#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "io/file_store.h"

namespace tabrescue {

// An open file with positioned reads and writes; closes itself.
class BinaryFile {
public:
    BinaryFile() = default;
    explicit BinaryFile(std::unique_ptr<StoredFile> file) : m_file(std::move(file)) {}

    // Reads up to out.size() bytes at pos; returns fewer only at the end of the file.
    std::size_t readAt(std::uint64_t pos, std::span<std::byte> out);
    // Reads exactly out.size() bytes at pos, or throws error 62.
    void readExactAt(std::uint64_t pos, std::span<std::byte> out);
    void writeAt(std::uint64_t pos, std::span<const std::byte> data);
    // Copies the bytes [0, length) of this file to the same place in `to`, in large pieces and
    // with the kernel's copy where there is one. Returns the bytes copied (fewer only when this
    // file ends first).
    std::uint64_t copyTo(BinaryFile& to, std::uint64_t length);
    std::uint64_t size() const;
    void close();
    bool isOpen() const { return m_file && m_file->isOpen(); }
    const std::string& path() const;

private:
    StoredFile& file() const;

    std::unique_ptr<StoredFile> m_file;
};

// Bytes per read or write of the streaming helpers. Large enough that system calls cost nothing
// next to the copying, small enough to stay in the processor's cache between the read and the
// write while other programs compete for it: on a busy machine 1 MiB buffers measured up to twice
// as slow (on an idle one the sizes from 256 KiB to 4 MiB are alike).
inline constexpr std::size_t kStreamBufferSize = std::size_t{256} << 10;

// A scratch buffer lent by a pool and given back when it goes, so that its memory is touched once
// per program rather than once per file operation: on some virtual machines a page touched for the
// first time costs about 10 us, more than copying it. Its bytes start unspecified.
class ScratchBuffer {
public:
    explicit ScratchBuffer(std::size_t size);
    ~ScratchBuffer();
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;

    std::byte* data() { return m_data.get(); }
    std::size_t size() const { return m_size; }
    // At least `size` bytes; what the buffer held is not kept.
    void ensure(std::size_t size);

private:
    void giveBack() noexcept;

    std::unique_ptr<std::byte[]> m_data;
    std::size_t m_size = 0;
};

// Streams a file front to back through a large buffer; a view never costs a system call per row.
class ChunkReader {
public:
    explicit ChunkReader(BinaryFile& file, std::size_t chunk = kStreamBufferSize);
    std::uint64_t size() const { return m_size; }
    // The bytes [pos, pos + n) as far as they lie in the file; n must not exceed the chunk size.
    // Inline for the common case of bytes already in the buffer: callers ask once per row.
    std::span<const std::byte> view(std::uint64_t pos, std::size_t n)
    {
        if (pos >= m_bufPos && n <= m_bufLen && pos - m_bufPos <= m_bufLen - n)
            return {m_buf.data() + (pos - m_bufPos), n};
        return load(pos, n);
    }

private:
    std::span<const std::byte> load(std::uint64_t pos, std::size_t n);

    BinaryFile& m_file;
    std::uint64_t m_size;
    ScratchBuffer m_buf;
    std::uint64_t m_bufPos = 0;
    std::size_t m_bufLen = 0;
};

// Appends to a file through a buffer: one system call per buffer, not per record.
class AppendWriter {
public:
    AppendWriter(BinaryFile& file, std::uint64_t startPos, std::size_t capacity = kStreamBufferSize);
    // Inline: callers append millions of small rows, and a call per row would cost more than
    // the copy itself.
    void append(std::span<const std::byte> data)
    {
        if (data.size() > m_capacity - m_used || data.size() > m_buf.size() - m_used) {
            appendSlow(data);
            return;
        }
        if (!data.empty())
            std::memcpy(m_buf.data() + m_used, data.data(), data.size());
        m_used += data.size();
    }
    // The next n bytes of the file, for the caller to fill at once: a small row built in place costs
    // no copy, and no reload of bytes just stored (which the processor cannot forward).
    std::span<std::byte> appendInPlace(std::size_t n)
    {
        if (n > m_capacity - m_used || n > m_buf.size() - m_used)
            makeRoom(n);
        const std::span<std::byte> out(m_buf.data() + m_used, n);
        m_used += n;
        return out;
    }
    void flush();
    std::uint64_t position() const { return m_pos + m_used; }

private:
    void appendSlow(std::span<const std::byte> data);
    void makeRoom(std::size_t n);

    BinaryFile& m_file;
    std::uint64_t m_pos;
    std::size_t m_capacity;
    ScratchBuffer m_buf{0}; // at least m_capacity bytes from the first append on
    std::size_t m_used = 0;
};

} // namespace tabrescue
