#pragma once

#include <cstddef>
#include <cstdint>

namespace tabrescue {
class BinaryFile;
}

namespace tabrescue::dat {

inline constexpr std::size_t kFixedHeaderSize = 32;
inline constexpr std::size_t kRecordCountOffset = 4;  // u32
inline constexpr std::size_t kHeaderLengthOffset = 8; // u16
inline constexpr std::size_t kRecordLengthOffset = 10; // u16
inline constexpr std::size_t kDescriptorSize = 32;
inline constexpr std::size_t kDescriptorNameSize = 11;
inline constexpr std::size_t kDescriptorTypeOffset = 11;
inline constexpr std::size_t kDescriptorValueOffset = 12; // u32
inline constexpr std::size_t kDescriptorLengthOffset = 16;
inline constexpr std::size_t kDescriptorDecimalsOffset = 17;
inline constexpr std::byte kLiveRow{0x20}, kDeletedRow{0x2A}, kEndMark{0x1A}, kHeaderTerminator{0x0D};

// Positions in the file are computed in signed 32-bit arithmetic by the format's home program.
inline constexpr std::uint64_t kMaxPosition = 2147483647u;

struct DatHeader {
    std::uint32_t recordCount = 0;
    std::uint16_t headerLength = 0;
    std::uint16_t recordLength = 0;
};

// Reads the three numbers of the fixed header; error 62 when the file is shorter.
DatHeader readDatHeader(BinaryFile& file);

} // namespace tabrescue::dat
