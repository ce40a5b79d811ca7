#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tabrescue {

class RunLog;

// Component index used by ItemFullpath/ItemFileName; also the order of backup and copy.
inline constexpr std::int32_t kTabIndex = 0, kDatIndex = 1, kMapIndex = 2, kIdIndex = 3, kIndIndex = 4;
inline constexpr std::string_view kComponentExtensions[5] = {"TAB", "DAT", "MAP", "ID", "IND"};

// First character of ch is a letter or digit: ASCII letters and digits, and letters beyond ASCII.
bool isAlphaNumChar(std::string_view ch);

// The file set of one table: which of the five component files exist, their names as they exist
// on disk, the base name and a cleaned table name. An empty TableName means no usable table, and
// then every member returns an empty string.
class mapinfoTableFilesPull {
public:
    std::string ItemFullpath(std::int32_t ind) const;
    std::string ItemFileName(std::int32_t ind) const;
    std::string INDfullpath() const { return ItemFullpath(kIndIndex); }
    std::string IDfullpath() const { return ItemFullpath(kIdIndex); }
    std::string MAPfullpath() const { return ItemFullpath(kMapIndex); }
    std::string DATfullpath() const { return ItemFullpath(kDatIndex); }
    std::string TABfullPath() const { return ItemFullpath(kTabIndex); }
    std::string INDfile() const { return ItemFileName(kIndIndex); }
    std::string IDfile() const { return ItemFileName(kIdIndex); }
    std::string MAPfile() const { return ItemFileName(kMapIndex); }
    std::string DATfile() const { return ItemFileName(kDatIndex); }
    std::string TABfile() const { return ItemFileName(kTabIndex); }
    std::string TableName() const { return m_tableName; }
    std::string TabBaseName() const;
    // Always ends with the path separator.
    std::string ParentFolder() const;

    // Sets the object up from the path of any file of the group.
    void initByTABpath(const std::string& tabP);
    // The cleaned table name (at most 31 characters) for a base name.
    static std::string PathToTableName(std::string_view TabBaseName);

private:
    std::string m_baseName;
    std::string m_tableName;
    std::string m_parentFolder;
    std::string m_fileNames[5];
};

// True when a file exists at path (letter case ignored); else writes "File '...' was not  found."
bool fileFoundOrLogged(const std::string& path, RunLog* log);

} // namespace tabrescue
