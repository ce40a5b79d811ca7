#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tabrescue {

// What each recovery returns. count < 0: the recovery failed.
struct RecoverResult {
    std::int32_t count = 0;
    std::string tabPath;
};

inline constexpr std::size_t kAttributeResult = 0;
inline constexpr std::size_t kGeometryResult = 1;

// What the driver returns: status 0 success, 1 failure or nothing done; results[0] attributes,
// results[1] geometry.
struct RecoverRunResult {
    std::int32_t status = 1;
    std::array<RecoverResult, 2> results{};
};

} // namespace tabrescue
