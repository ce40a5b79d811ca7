#include "table/table_files.h"

#include "base/recover_error.h"
#include "base/run_log.h"
#include "base/text_case.h"
#include "io/file_system.h"
#include "io/paths.h"

namespace tabrescue {

namespace {
constexpr std::size_t kMaxTableName = 31;
}

bool isAlphaNumChar(std::string_view ch)
{
    if (ch.empty())
        return false;
    std::size_t i = 0;
    return isAlphaNumeric(nextCodePoint(ch, i));
}

std::string mapinfoTableFilesPull::ItemFileName(std::int32_t ind) const
{
    if (m_tableName.empty() || ind < 0 || ind > kIndIndex)
        return {};
    return m_fileNames[ind];
}

std::string mapinfoTableFilesPull::ItemFullpath(std::int32_t ind) const
{
    const std::string name = ItemFileName(ind);
    if (name.empty())
        return {};
    return m_parentFolder + name;
}

std::string mapinfoTableFilesPull::TabBaseName() const
{
    return m_tableName.empty() ? std::string() : m_baseName;
}

std::string mapinfoTableFilesPull::ParentFolder() const
{
    return m_tableName.empty() ? std::string() : m_parentFolder;
}

void mapinfoTableFilesPull::initByTABpath(const std::string& tabP)
{
    m_baseName.clear();
    m_tableName.clear();
    m_parentFolder.clear();
    for (auto& name : m_fileNames)
        name.clear();

    FileSystem& fs = fileSystem();
    std::string absolute;
    try {
        absolute = fs.absolutePath(tabP);
        if (absolute.empty() || !fs.fileExists(absolute))
            return;
        absolute = fs.resolve(absolute);
    } catch (const RecoverError&) {
        return;
    }

    // The base name keeps the case in which it was given; the folder is the one on disk.
    const std::string givenName = fileNameOf(tabP.empty() ? absolute : tabP);
    const std::string name = givenName.empty() ? fileNameOf(absolute) : givenName;
    const std::size_t dot = name.rfind('.');
    m_baseName = dot == std::string::npos ? name : name.substr(0, dot);
    m_parentFolder = withTrailingSeparator(parentOf(absolute));

    // Each component by its upper-case extension, named as it exists on disk.
    bool exists[5] = {};
    for (std::int32_t i = 0; i <= kIndIndex; ++i) {
        const std::string full = m_parentFolder + m_baseName + "." + std::string(kComponentExtensions[i]);
        try {
            const std::string onDisk = fs.resolve(full);
            exists[i] = fs.fileExists(onDisk);
            m_fileNames[i] = fileNameOf(onDisk);
        } catch (const RecoverError&) {
            exists[i] = false;
        }
    }
    if (!exists[kTabIndex] || m_baseName.empty()) {
        m_baseName.clear();
        m_parentFolder.clear();
        for (auto& n : m_fileNames)
            n.clear();
        return;
    }
    if (!exists[kDatIndex]) {
        m_fileNames[kDatIndex].clear();
        m_fileNames[kIndIndex].clear();
    } else if (!exists[kIndIndex]) {
        m_fileNames[kIndIndex].clear();
    }
    if (!exists[kMapIndex] || !exists[kIdIndex]) {
        m_fileNames[kMapIndex].clear();
        m_fileNames[kIdIndex].clear();
    }
    if (!m_fileNames[kDatIndex].empty() || !m_fileNames[kMapIndex].empty())
        m_tableName = PathToTableName(m_baseName);
}

std::string mapinfoTableFilesPull::PathToTableName(std::string_view TabBaseName)
{
    if (TabBaseName.empty())
        return {};
    const std::string_view head = firstChars(TabBaseName, kMaxTableName);
    std::string s;
    s.reserve(head.size() + 1);
    for (std::size_t i = 0; i < head.size();) {
        const std::size_t start = i;
        const char32_t c = nextCodePoint(head, i);
        if (c == U'~' || isAlphaNumeric(c))
            s.append(head.substr(start, i - start));
        else
            s += '_';
    }
    if (s[0] >= '0' && s[0] <= '9')
        s = std::string(firstChars("_" + s, kMaxTableName));
    return s;
}

bool fileFoundOrLogged(const std::string& path, RunLog* log)
{
    if (fileSystem().fileExists(path))
        return true;
    LogStr_to_TxtBox(log, "File '" + path + "' was not  found.", "");
    return false;
}

} // namespace tabrescue
