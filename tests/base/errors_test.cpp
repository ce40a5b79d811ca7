#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <new>
#include <stdexcept>

#include "base/op_boundary.h"
#include "support/log_capture.h"

namespace tabrescue {
namespace {

TEST(Errors, SystemErrorsGetTheClassicNumbers)
{
    const std::pair<int, int> cases[] = {{ENOENT, 53}, {ENOTDIR, 76}, {EACCES, 70}, {EPERM, 70}, {EROFS, 70},
                                         {ENOSPC, 61}, {EFBIG, 61},   {ENOMEM, 7},  {EIO, 75}};
    for (const auto& [errnum, number] : cases)
        EXPECT_EQ(ioError(errnum, "x").number(), number) << errnum;
    EXPECT_EQ(ioError(ENOENT, "a b").logText(), "53 File not found: 'a b'");
}

// Whatever a body throws becomes one numbered line under the operation's source name.
TEST(Errors, TheBoundaryWritesOneLineForWhateverWasThrown)
{
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] { throw RecoverError(62, "Input past end of file"); }, "62 Input past end of file"},
        {[] { throw std::bad_alloc(); }, "7 Out of memory"},
        {[] { throw std::filesystem::filesystem_error("x", "p", std::make_error_code(std::errc::permission_denied)); },
         "70 Permission denied: 'p'"},
        {[] { throw std::runtime_error("odd"); }, "5 odd"},
        {[] { throw 1; }, "5 Invalid procedure call or argument"},
    };
    for (const auto& [body, text] : cases) {
        test::LogCapture cap;
        EXPECT_FALSE(guarded(&cap.log, "op", body));
        EXPECT_EQ(cap.lines(), std::vector<std::string>{"+++ mapinfoRecoverTable::op()+++ " + text});
    }
    test::LogCapture cap;
    EXPECT_TRUE(guarded(&cap.log, "op", [] {}));
    EXPECT_TRUE(cap.lines().empty());
}

} // namespace
} // namespace tabrescue
