#pragma once

#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <string_view>
#include <system_error>

#include "base/recover_error.h"
#include "base/run_log.h"

namespace tabrescue {

inline constexpr std::string_view kModule = "mapinfoRecoverTable";

// "mapinfoRecoverTable::" + operation + "()"
inline std::string sourceName(std::string_view operation)
{
    std::string s(kModule);
    s += "::";
    s += operation;
    s += "()";
    return s;
}

// Turns whatever a body threw into a numbered error.
inline RecoverError caughtError(std::exception_ptr e)
{
    try {
        std::rethrow_exception(e);
    } catch (const RecoverError& err) {
        return err;
    } catch (const std::bad_alloc&) {
        return {kErrOutOfMemory, "Out of memory"};
    } catch (const std::filesystem::filesystem_error& err) {
        // Only a path that could not be converted gets here: the I/O layer maps its own errors.
        const std::u8string path = err.path1().u8string();
        const std::error_condition cond = err.code().default_error_condition();
        const int errnum = cond.category() == std::generic_category() ? cond.value() : 0;
        return ioError(errnum, std::string(path.begin(), path.end()));
    } catch (const std::exception& err) {
        return {kErrInvalidCall, err.what()};
    } catch (...) {
        return {kErrInvalidCall, "Invalid procedure call or argument"};
    }
}

// The one error boundary of the module's operations: runs body; on an error writes exactly one
// line under the operation's source name and returns false. The operation then returns what its
// result holds at that moment.
template <class Body>
bool guarded(RunLog* log, std::string_view operation, Body&& body) noexcept
{
    try {
        body();
        return true;
    } catch (...) {
        try {
            LogStr_to_TxtBox(log, caughtError(std::current_exception()).logText(), sourceName(operation));
        } catch (...) {
        }
        return false;
    }
}

} // namespace tabrescue
