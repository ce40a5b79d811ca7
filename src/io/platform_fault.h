#pragma once

// The test fault hook as the platform files consult it; nothing above them includes this.

#include "io/platform.h"

namespace tabrescue::platform {

inline FaultHook g_faultHook;

// The errno a test injects into the call about to be made, 0 for none; caps `bytes` at the
// injected limit. One branch per call of the system while no test has installed a hook.
inline int injectedError(Call call, const std::string& path, std::size_t* bytes = nullptr)
{
    if (!g_faultHook) [[likely]]
        return 0;
    const Fault fault = g_faultHook(call, path);
    if (bytes != nullptr && *bytes > fault.limit)
        *bytes = fault.limit;
    return fault.error;
}

} // namespace tabrescue::platform
