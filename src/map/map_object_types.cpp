#include "map/map_object_types.h"

#include "base/run_log.h"
#include "base/text_format.h"
#include "map/map_layout.h"

namespace tabrescue {

std::int16_t getGeoTypeLength(std::uint8_t geoType, RunLog* log, std::uint64_t offset)
{
    const std::int16_t length = map::geoType(geoType).length;
    if (length == 0) {
        std::string line = "!!! Found unknown element type: offset: ";
        appendDecimal(line, offset, 8);
        line += " element: &H";
        appendHex(line, geoType);
        LogStr_to_TxtBox(log, line, "");
    }
    return length;
}

std::string getGeoTypeName(std::uint8_t geoType)
{
    const std::string_view name = map::geoType(geoType).name;
    if (!name.empty())
        return std::string(name);
    std::string s = "Unknown Type(&H";
    appendHex(s, geoType);
    s += ')';
    return s;
}

} // namespace tabrescue
