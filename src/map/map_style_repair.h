#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "map/map_block_walk.h"
#include "map/map_layout.h"

namespace tabrescue::map {

constexpr bool styleBytesLieInTheirRecords()
{
    for (const GeoType& t : kGeoTypes)
        for (std::size_t i = 0; i < t.styleCount; ++i)
            if (t.styles[i].beforeLast >= t.length)
                return false;
    return true;
}
static_assert(styleBytesLieInTheirRecords(), "the style check reads no byte before its record");

// Resets the style index bytes of a record that exceed the limits of its file's header to 1.
class StyleRepair
{
  public:
    // `header` holds the four limit bytes (pen, brush, symbol, font).
    explicit StyleRepair(std::span<const std::byte> header)
    {
        for (std::size_t i = 0; i < m_limits.size(); ++i)
            m_limits[i] = std::to_integer<std::uint8_t>(header[kLimitOffsets[i]]);
    }

    void repair(const MapRecord& rec) const
    {
        const GeoType& type = geoType(rec.code);
        // A record of unknown length has no style bytes in the table, so `last` is always defined.
        if (type.styleCount == 0)
            return;
        const std::size_t last = static_cast<std::size_t>(rec.length) - 1;
        if (last >= rec.bytes.size()) { // the file ends inside the record: only what lies in it
            for (std::size_t i = 0; i < type.styleCount; ++i)
                if (last - type.styles[i].beforeLast < rec.bytes.size())
                    resetAboveLimit(rec.bytes[last - type.styles[i].beforeLast], type.styles[i].limit);
            return;
        }
        // Both slots every time: with the object types mixed at random, a branch on the number of
        // style bytes is mispredicted so often that it costs more than the check. A type with one
        // style byte checks it twice.
        const StyleByte& second = type.styles[type.styleCount - 1];
        resetAboveLimit(rec.bytes[last - type.styles[0].beforeLast], type.styles[0].limit);
        resetAboveLimit(rec.bytes[last - second.beforeLast], second.limit);
    }

  private:
    void resetAboveLimit(std::byte& index, StyleLimit limit) const
    {
        if (std::to_integer<std::uint8_t>(index) > m_limits[static_cast<std::size_t>(limit)])
            index = std::byte{1};
    }

    std::array<std::uint8_t, 4> m_limits{}; // by StyleLimit
};

} // namespace tabrescue::map
