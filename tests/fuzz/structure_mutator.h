#pragma once
// Mutations that keep the frame of a .DAT or .MAP (header fields, block types at 512-byte steps,
// used counts, record codes and row fields, row lengths) and change what the readers decide on,
// so that inputs reach the deep branches instead of dying at the first check. One call in five
// leaves the bytes to libFuzzer's own mutations.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "map/map_layout.h"
#include "table/dat_layout.h"

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace tabrescue::fuzz {

using Bytes = std::vector<std::uint8_t>;

class Rng {
  public:
    explicit Rng(unsigned seed) : m_r(seed) {}
    std::size_t below(std::size_t n) { return n == 0 ? 0 : m_r() % n; }
    bool oneIn(std::size_t n) { return below(n) == 0; }
    template <class T, std::size_t N> T pick(const std::array<T, N>& from) { return from[below(N)]; }
    std::int64_t interesting(std::int64_t consistent)
    {
        const std::array<std::int64_t, 12> values{0, 1, -1, 2, 0x7F, 0x80, 0xFF, 0x7FFF, 0x8000, 0xFFFF,
                                                  0x7FFFFFFF, std::int64_t{-0x7FFFFFFF} - 1};
        switch (below(4)) {
        case 0: return consistent;
        case 1: return consistent + static_cast<std::int64_t>(below(5)) - 2;
        case 2: return pick(values);
        default: return static_cast<std::int64_t>(m_r());
        }
    }

  private:
    std::minstd_rand m_r;
};

inline std::int64_t get(const Bytes& f, std::size_t at, int width)
{
    std::int64_t v = 0;
    for (int i = width; i-- > 0;)
        v = v << 8 | (at + i < f.size() ? f[at + i] : 0);
    return v;
}
inline void put(Bytes& f, std::size_t at, int width, std::int64_t v)
{
    for (int i = 0; i < width && at + i < f.size(); ++i)
        f[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::size_t finish(const Bytes& f, std::uint8_t* data, std::size_t maxSize)
{
    const std::size_t n = std::min(f.size(), maxSize);
    std::memcpy(data, f.data(), n);
    return n;
}

// ---- .MAP ----

inline constexpr std::size_t kBlock = map::kBlockSize;

// The records of an object block as far as their codes have known lengths.
inline std::vector<std::size_t> recordsOf(const Bytes& f, std::size_t block)
{
    std::vector<std::size_t> at;
    const std::size_t used = static_cast<std::size_t>(std::clamp<std::int64_t>(get(f, block + 2, 2), 0, 492));
    for (std::size_t pos = block + 20; pos < block + 20 + used && pos < f.size();) {
        const std::int16_t length = map::geoType(f[pos]).length;
        if (length <= 0)
            break;
        at.push_back(pos);
        pos += static_cast<std::size_t>(length);
    }
    return at;
}

inline std::uint8_t knownCode(Rng& rng)
{
    for (;;) {
        const auto code = static_cast<std::uint8_t>(rng.below(256));
        if (map::geoType(code).length > 0 || rng.oneIn(20))
            return code;
    }
}

// An object block of a few records of known codes, its used count right.
inline Bytes objectBlock(Rng& rng)
{
    Bytes b(kBlock, 0);
    b[0] = map::kObjectDataBlock;
    put(b, 4, 4, rng.interesting(0));
    put(b, 8, 4, rng.interesting(0));
    std::size_t pos = 20;
    for (std::size_t n = 1 + rng.below(4); n > 0; --n) {
        const std::uint8_t code = knownCode(rng);
        const std::size_t length = std::max<std::int16_t>(map::geoType(code).length, 5);
        if (pos + length > kBlock)
            break;
        b[pos] = code;
        put(b, pos + 1, 4, static_cast<std::int64_t>(1 + rng.below(4)) | (rng.oneIn(2) ? 0x40000000 : 0));
        for (std::size_t i = pos + 5; i < pos + length; ++i)
            b[i] = static_cast<std::uint8_t>(rng.oneIn(3) ? rng.below(256) : rng.below(8));
        pos += length;
    }
    put(b, 2, 2, static_cast<std::int64_t>(pos - 20));
    return b;
}

inline std::size_t mutateMap(std::uint8_t* data, std::size_t size, std::size_t maxSize, unsigned seed)
{
    Rng rng(seed);
    if (rng.oneIn(5))
        return LLVMFuzzerMutate(data, size, maxSize);
    Bytes f(data, data + size);
    if (f.size() < 3 * kBlock) { // a header with the magic number, the block after it, one object block
        f.resize(2 * kBlock, 0);
        put(f, map::kMagicOffset, 4, map::kMagic);
        put(f, map::kBlockSizeOffset, 2, 512);
        const Bytes b = objectBlock(rng);
        f.insert(f.end(), b.begin(), b.end());
    }
    const std::size_t blocks = (f.size() + kBlock - 1) / kBlock;
    const std::size_t block = kBlock * (2 + rng.below(blocks - 2));
    const std::vector<std::size_t> records = recordsOf(f, block);
    const std::size_t record = records.empty() ? block + 20 : records[rng.below(records.size())];
    const std::size_t length = std::max<std::int16_t>(map::geoType(f[std::min(record, f.size() - 1)]).length, 5);
    switch (rng.below(12)) {
    case 0: { // a header field the readers decide on
        constexpr std::array<std::pair<std::size_t, int>, 14> fields{{
            {map::kMagicOffset, 4}, {map::kBlockSizeOffset, 2}, {map::kHeaderBoxOffset, 4},
            {map::kHeaderBoxOffset + 8, 4}, {map::kIndexRootOffset, 4}, {map::kPointCountOffset, 4},
            {map::kLineCountOffset, 4}, {map::kAreaCountOffset, 4}, {map::kTextCountOffset, 4},
            {map::kIndexDepthOffset, 1}, {map::kPenLimitOffset, 1}, {map::kBrushLimitOffset, 1},
            {map::kSymbolLimitOffset, 1}, {map::kFontLimitOffset, 1}}};
        const auto [at, width] = rng.pick(fields);
        put(f, at, width, rng.interesting(at == map::kMagicOffset ? map::kMagic : at == map::kBlockSizeOffset ? 512 : get(f, at, width)));
        break;
    }
    case 1: // a block's type
        put(f, block, 1, rng.pick(std::array<std::int64_t, 6>{0, 1, 2, 3, 4, static_cast<std::int64_t>(rng.below(256))}));
        if (get(f, block, 1) == 1)
            put(f, block + 1, 1, 0);
        break;
    case 2: { // the used count: right for the records, or a little off, or wild
        std::size_t right = 0;
        for (std::size_t r : recordsOf(f, block))
            right = r + static_cast<std::size_t>(map::geoType(f[r]).length) - block - 20;
        put(f, block + 2, 2, rng.oneIn(2) ? static_cast<std::int64_t>(right) : rng.interesting(static_cast<std::int64_t>(right)));
        break;
    }
    case 3: // a record's code
        if (record < f.size())
            f[record] = knownCode(rng);
        break;
    case 4: // the deletion bits and the row number of a record
        put(f, record + 1, 4,
            (rng.interesting(get(f, record + 1, 4) & 0x3FFFFFFF) & 0x3FFFFFFF) |
                (std::int64_t{rng.pick(std::array<std::uint8_t, 4>{0, 0x40, 0x80, 0xC0})} << 24));
        break;
    case 5: // a style index or another small byte inside a record
        if (length > 5)
            put(f, record + 5 + rng.below(length - 5), 1, static_cast<std::int64_t>(rng.below(rng.oneIn(4) ? 256 : 8)));
        break;
    case 6: // a coordinate, offset or size inside a record
        if (length >= 9)
            put(f, record + 5 + rng.below(length - 8), rng.oneIn(2) ? 4 : 2, rng.interesting(get(f, record + 5, 4)));
        break;
    case 7: { // a spatial index block over an object block, with the header pointing at it
        Bytes b(kBlock, 0);
        b[0] = 1;
        const std::size_t entries = 1 + rng.below(rng.oneIn(4) ? 30 : 3);
        put(b, 2, 2, static_cast<std::int64_t>(entries));
        for (std::size_t e = 0; e < entries && 4 + 20 * e + 20 <= kBlock; ++e) {
            for (std::size_t c = 0; c < 4; ++c)
                put(b, 4 + 20 * e + 4 * c, 4, rng.interesting(c < 2 ? -1000 : 1000));
            put(b, 4 + 20 * e + 16, 4, static_cast<std::int64_t>(kBlock * (2 + rng.below(blocks))));
        }
        const std::size_t at = rng.oneIn(2) ? f.size() : block;
        f.resize(std::max(f.size(), at + kBlock), 0);
        std::copy(b.begin(), b.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
        put(f, map::kIndexRootOffset, 4, static_cast<std::int64_t>(at));
        put(f, map::kIndexDepthOffset, 1, static_cast<std::int64_t>(1 + rng.below(3)));
        break;
    }
    case 8: { // a fresh object block, appended or in place of another
        const Bytes b = objectBlock(rng);
        const std::size_t at = rng.oneIn(2) ? kBlock * blocks : block;
        f.resize(std::max(f.size(), at + kBlock), 0);
        std::copy(b.begin(), b.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
        break;
    }
    case 9: { // a block copied over another, or to the end
        Bytes b(f.begin() + static_cast<std::ptrdiff_t>(block), f.begin() + static_cast<std::ptrdiff_t>(std::min(f.size(), block + kBlock)));
        const std::size_t at = rng.oneIn(2) ? kBlock * blocks : kBlock * (2 + rng.below(blocks - 2));
        f.resize(std::max(f.size(), at + b.size()), 0);
        std::copy(b.begin(), b.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
        break;
    }
    case 10: // cut at a block's end or inside the last block
        f.resize(rng.oneIn(2) ? std::max<std::size_t>(block + kBlock, 2 * kBlock) : f.size() - rng.below(std::min<std::size_t>(f.size(), kBlock)));
        break;
    default: // a record added at the end of the block's records
        if (!records.empty()) {
            const std::size_t last = records.back() + static_cast<std::size_t>(map::geoType(f[records.back()]).length);
            const std::uint8_t code = knownCode(rng);
            const std::size_t n = std::max<std::int16_t>(map::geoType(code).length, 5);
            if (last + n <= block + kBlock && last + n <= f.size()) {
                f[last] = code;
                put(f, last + 1, 4, get(f, records.back() + 1, 4) + 1);
                put(f, block + 2, 2, static_cast<std::int64_t>(last + n - block - 20));
            }
        }
        break;
    }
    return finish(f, data, maxSize);
}

// ---- .DAT ----

// The fuzz table's frame: an Integer and a Char (8) field, rows of 13 bytes.
inline Bytes datFrame(Rng& rng)
{
    Bytes f(dat::kFixedHeaderSize + 2 * dat::kDescriptorSize + 1, 0);
    f[0] = 3;
    put(f, dat::kHeaderLengthOffset, 2, static_cast<std::int64_t>(f.size()));
    put(f, dat::kRecordLengthOffset, 2, 13);
    const auto field = [&](std::size_t i, const char* name, char type, std::uint8_t length) {
        const std::size_t at = dat::kFixedHeaderSize + i * dat::kDescriptorSize;
        std::memcpy(&f[at], name, std::strlen(name));
        f[at + dat::kDescriptorTypeOffset] = static_cast<std::uint8_t>(type);
        f[at + dat::kDescriptorLengthOffset] = length;
    };
    field(0, "ID", 'N', 4);
    field(1, "NAME", 'C', 8);
    f.back() = 0x0D;
    const std::size_t rows = rng.below(6);
    for (std::size_t r = 0; r < rows; ++r) {
        f.push_back(rng.oneIn(2) ? '*' : ' ');
        for (int i = 0; i < 12; ++i)
            f.push_back(static_cast<std::uint8_t>(i < 4 ? rng.below(4) : 'a' + rng.below(26)));
    }
    put(f, dat::kRecordCountOffset, 4, static_cast<std::int64_t>(rows));
    if (rng.oneIn(2))
        f.push_back(0x1A);
    return f;
}

inline std::size_t mutateDat(std::uint8_t* data, std::size_t size, std::size_t maxSize, unsigned seed)
{
    Rng rng(seed);
    if (rng.oneIn(5))
        return LLVMFuzzerMutate(data, size, maxSize);
    Bytes f(data, data + size);
    if (f.size() < dat::kFixedHeaderSize || rng.oneIn(50))
        f = datFrame(rng);
    const std::int64_t headerLength = get(f, dat::kHeaderLengthOffset, 2);
    const std::int64_t rowLength = std::max<std::int64_t>(get(f, dat::kRecordLengthOffset, 2), 1);
    const std::int64_t body = std::max<std::int64_t>(static_cast<std::int64_t>(f.size()) - headerLength, 0);
    const std::int64_t rows = body / rowLength;
    const auto rowAt = [&](std::int64_t r) { return static_cast<std::size_t>(headerLength + r * rowLength); };
    switch (rng.below(8)) {
    case 0: // the row count: as many as there are, a few more or less, or wild
        put(f, dat::kRecordCountOffset, 4, rng.interesting(rows));
        break;
    case 1: // the header length, against the descriptors there are
        put(f, dat::kHeaderLengthOffset, 2, rng.interesting(headerLength));
        break;
    case 2: // the row length, against the fields' lengths
        put(f, dat::kRecordLengthOffset, 2, rng.interesting(rowLength));
        break;
    case 3: { // a field descriptor's type or length
        const std::size_t fields = static_cast<std::size_t>(std::max<std::int64_t>(headerLength - 33, 0)) / dat::kDescriptorSize;
        const std::size_t at = dat::kFixedHeaderSize + dat::kDescriptorSize * rng.below(std::max<std::size_t>(fields, 1));
        if (rng.oneIn(2))
            put(f, at + dat::kDescriptorTypeOffset, 1, rng.pick(std::array<std::int64_t, 8>{'C', 'N', 'D', 'L', 'F', 'I', 'T', 0}));
        else
            put(f, at + dat::kDescriptorLengthOffset, 1, rng.interesting(static_cast<std::int64_t>(get(f, at + dat::kDescriptorLengthOffset, 1))));
        break;
    }
    case 4: // a row's status byte: live, deleted, the end mark or anything
        if (rows > 0)
            put(f, rowAt(static_cast<std::int64_t>(rng.below(static_cast<std::size_t>(rows)))), 1,
                rng.pick(std::array<std::int64_t, 5>{' ', '*', '*', 0x1A, static_cast<std::int64_t>(rng.below(256))}));
        break;
    case 5: { // rows added at the end, mostly deleted ones, the count following or not
        const std::size_t end = rowAt(rows);
        f.resize(std::max(f.size(), end));
        f.resize(end);
        for (std::size_t n = 1 + rng.below(4); n > 0; --n) {
            f.push_back(rng.oneIn(3) ? ' ' : '*');
            for (std::int64_t i = 1; i < rowLength; ++i)
                f.push_back(static_cast<std::uint8_t>(rng.below(4) == 0 ? rng.below(256) : 'a'));
            if (f.size() > (std::size_t{1} << 16))
                break;
        }
        if (!rng.oneIn(3))
            put(f, dat::kRecordCountOffset, 4, (static_cast<std::int64_t>(f.size()) - headerLength) / rowLength);
        if (rng.oneIn(2))
            f.push_back(0x1A);
        break;
    }
    case 6: // cut at a row's end or inside a row
        if (rows > 0)
            f.resize(std::min(f.size(), rowAt(static_cast<std::int64_t>(rng.below(static_cast<std::size_t>(rows)))) +
                                            (rng.oneIn(2) ? 0 : rng.below(static_cast<std::size_t>(rowLength)))));
        break;
    default: // the header's terminator, the version, or a byte of a row
        if (rng.oneIn(2) && headerLength > 0 && static_cast<std::size_t>(headerLength) <= f.size())
            f[static_cast<std::size_t>(headerLength) - 1] = rng.oneIn(2) ? 0x0D : static_cast<std::uint8_t>(rng.below(256));
        else if (!f.empty())
            f[rng.below(f.size())] = static_cast<std::uint8_t>(rng.below(256));
        break;
    }
    return finish(f, data, maxSize);
}

} // namespace tabrescue::fuzz
