#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>

namespace tabrescue {

// Classic error numbers of the program's run-time.
inline constexpr int kErrInvalidCall = 5;
inline constexpr int kErrOverflow = 6;
inline constexpr int kErrOutOfMemory = 7;
inline constexpr int kErrIndexRange = 9;
inline constexpr int kErrFileNotFound = 53;
inline constexpr int kErrDiskFull = 61;
inline constexpr int kErrPastEnd = 62;
inline constexpr int kErrPermission = 70;
inline constexpr int kErrPathAccess = 75;
inline constexpr int kErrPathNotFound = 76;
inline constexpr int kErrProgramData = 99999;

// An error is a number and a description; it travels with the failure.
class RecoverError : public std::runtime_error {
public:
    RecoverError(int number, std::string description)
        : std::runtime_error(description), m_number(number), m_description(std::move(description))
    {
    }
    int number() const noexcept { return m_number; }
    const std::string& description() const noexcept { return m_description; }
    // "53 File not found: '...'" as the log line's message.
    std::string logText() const { return std::to_string(m_number) + " " + m_description; }

private:
    int m_number;
    std::string m_description;
};

// Maps an errno value of a failed file operation on `path` to a numbered error.
RecoverError ioError(int errnum, const std::string& path);

[[noreturn]] inline void throwPastEnd() { throw RecoverError(kErrPastEnd, "Input past end of file"); }
[[noreturn]] inline void throwOverflow() { throw RecoverError(kErrOverflow, "Overflow"); }

} // namespace tabrescue
