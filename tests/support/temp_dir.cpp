#include "support/temp_dir.h"

#include <random>

#include "io/platform.h"

namespace tabrescue::test {

namespace fs = std::filesystem;

fs::path makeTempDir()
{
    std::random_device rd;
    for (;;) {
        const fs::path p =
            fs::temp_directory_path() / ("tabrescue-test-" + std::to_string(rd()) + std::to_string(rd()));
        if (fs::create_directory(p))
            return p;
    }
}

void removeTree(const fs::path& dir)
{
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(dir, ec)))
        return;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
}

ScopedTempFolder::ScopedTempFolder(const fs::path& folder)
    : m_old(platform::environmentVariable(platform::tempFolderVariable()))
{
    platform::setEnvironmentVariable(platform::tempFolderVariable(), utf8(folder));
}

ScopedTempFolder::~ScopedTempFolder()
{
    platform::setEnvironmentVariable(platform::tempFolderVariable(), m_old);
}

} // namespace tabrescue::test
