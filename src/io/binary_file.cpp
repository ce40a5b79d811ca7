#include "io/binary_file.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "base/recover_error.h"

namespace tabrescue {

StoredFile& BinaryFile::file() const
{
    if (!m_file)
        throw ioError(EBADF, "");
    return *m_file;
}

const std::string& BinaryFile::path() const
{
    static const std::string none;
    return m_file ? m_file->path() : none;
}

std::size_t BinaryFile::readAt(std::uint64_t pos, std::span<std::byte> out)
{
    return file().readAt(pos, out);
}

void BinaryFile::readExactAt(std::uint64_t pos, std::span<std::byte> out)
{
    if (readAt(pos, out) != out.size())
        throwPastEnd();
}

void BinaryFile::writeAt(std::uint64_t pos, std::span<const std::byte> data)
{
    file().writeAt(pos, data);
}

std::uint64_t BinaryFile::copyTo(BinaryFile& to, std::uint64_t length)
{
    constexpr std::uint64_t kPiece = std::uint64_t{64} << 20;
    std::uint64_t done = 0;
    while (done < length) {
        const auto want = static_cast<std::size_t>(std::min(kPiece, length - done));
        const std::size_t n = file().copyRangeTo(to.file(), done, want);
        done += n;
        if (n < want)
            break;
    }
    return done;
}

std::uint64_t BinaryFile::size() const
{
    return file().size();
}

void BinaryFile::close()
{
    if (m_file)
        m_file->close();
}

namespace {

struct PooledBuffer {
    std::unique_ptr<std::byte[]> data;
    std::size_t size = 0;
};

// Buffers given back; a handful covers the streams that are open at one time.
constexpr std::size_t kPooledBuffers = 8;
thread_local std::vector<PooledBuffer> t_bufferPool;

} // namespace

ScratchBuffer::ScratchBuffer(std::size_t size)
{
    ensure(size);
}

ScratchBuffer::~ScratchBuffer()
{
    giveBack();
}

void ScratchBuffer::giveBack() noexcept
{
    if (m_data) {
        if (t_bufferPool.size() < kPooledBuffers) {
            try {
                t_bufferPool.push_back({std::move(m_data), m_size});
            } catch (...) { // then it is simply freed
            }
        } else {
            // A full pool keeps the larger buffers: small ones are cheap to make again, and a pool
            // full of them would hand out a fresh stream buffer on every file operation.
            auto smallest = std::min_element(t_bufferPool.begin(), t_bufferPool.end(),
                [](const PooledBuffer& a, const PooledBuffer& b) { return a.size < b.size; });
            if (smallest->size < m_size) {
                smallest->data = std::move(m_data);
                smallest->size = m_size;
            }
        }
    }
    m_data.reset();
    m_size = 0;
}

void ScratchBuffer::ensure(std::size_t size)
{
    if (size <= m_size)
        return;
    giveBack();
    // The smallest pooled buffer that is large enough, else a new one.
    auto best = t_bufferPool.end();
    for (auto it = t_bufferPool.begin(); it != t_bufferPool.end(); ++it)
        if (it->size >= size && (best == t_bufferPool.end() || it->size < best->size))
            best = it;
    if (best != t_bufferPool.end()) {
        m_data = std::move(best->data);
        m_size = best->size;
        t_bufferPool.erase(best);
        return;
    }
    m_data = std::make_unique_for_overwrite<std::byte[]>(size);
    m_size = size;
}

// A small file asks for a buffer of its own size only.
ChunkReader::ChunkReader(BinaryFile& file, std::size_t chunk)
    : m_file(file), m_size(file.size()), m_buf(static_cast<std::size_t>(std::min<std::uint64_t>(chunk, m_size)))
{
}

std::span<const std::byte> ChunkReader::load(std::uint64_t pos, std::size_t n)
{
    if (pos >= m_size)
        return {};
    const std::uint64_t avail = m_size - pos;
    if (n > avail)
        n = static_cast<std::size_t>(avail);
    if (n > m_buf.size()) {
        m_buf.ensure(n);
        m_bufLen = 0;
    }
    if (pos < m_bufPos || pos + n > m_bufPos + m_bufLen) {
        m_bufPos = pos;
        const std::uint64_t want = std::min<std::uint64_t>(m_buf.size(), m_size - pos);
        m_bufLen = m_file.readAt(pos, std::span<std::byte>(m_buf.data(), static_cast<std::size_t>(want)));
        if (m_bufLen < n) // the file shrank under us
            n = m_bufLen;
    }
    return {m_buf.data() + (pos - m_bufPos), n};
}

AppendWriter::AppendWriter(BinaryFile& file, std::uint64_t startPos, std::size_t capacity)
    : m_file(file), m_pos(startPos), m_capacity(std::max<std::size_t>(capacity, 1))
{
}

void AppendWriter::appendSlow(std::span<const std::byte> data)
{
    if (data.size() >= m_capacity) { // too large to be worth buffering
        flush();
        m_file.writeAt(m_pos, data);
        m_pos += data.size();
        return;
    }
    std::memcpy(appendInPlace(data.size()).data(), data.data(), data.size());
}

void AppendWriter::makeRoom(std::size_t n)
{
    if (n > m_capacity - m_used)
        flush();
    m_capacity = std::max(m_capacity, n);
    m_buf.ensure(m_capacity);
}

void AppendWriter::flush()
{
    if (m_used == 0)
        return;
    m_file.writeAt(m_pos, std::span<const std::byte>(m_buf.data(), m_used));
    m_pos += m_used;
    m_used = 0;
}

} // namespace tabrescue
