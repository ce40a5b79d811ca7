#include "io/paths.h"

#include "base/text_case.h"
#include "io/platform.h"

namespace tabrescue {

bool isPathSeparator(char c)
{
    return c == '/' || c == platform::separator();
}

namespace {

// Length of the folder part of a path: through its last separator, or the drive of a Windows
// path relative to that drive's current folder ("C:roads.tab").
std::size_t folderPartLength(const std::string& path)
{
    std::size_t i = path.size();
    while (i > 0 && !isPathSeparator(path[i - 1]))
        --i;
    const bool drive =
        path.size() >= 2 && path[1] == ':' && asciiLower(path[0]) >= 'a' && asciiLower(path[0]) <= 'z';
    if (i == 0 && drive && platform::separator() == '\\')
        return 2;
    return i;
}

} // namespace

char pathSeparator()
{
    return platform::separator();
}

std::string withTrailingSeparator(std::string folder)
{
    if (folder.empty() || !isPathSeparator(folder.back()))
        folder += pathSeparator();
    return folder;
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    return withTrailingSeparator(folder) + name;
}

std::string fileNameOf(const std::string& path)
{
    return path.substr(folderPartLength(path));
}

std::string parentOf(const std::string& path)
{
    return path.substr(0, folderPartLength(path));
}

} // namespace tabrescue
