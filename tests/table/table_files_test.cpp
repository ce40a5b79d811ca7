#include <gtest/gtest.h>

#include <sstream>

#include "io/file_system.h"
#include "io/paths.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "table/table_files.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;

TEST(TableName, CleansTheBaseName)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"Roads", "Roads"},
        {"2015 roads-main", "_2015_roads_main"},
        {"~AB12", "~AB12"},
        {std::string(40, 'a'), std::string(31, 'a')},
        {"1" + std::string(30, 'b'), "_1" + std::string(29, 'b')},
        {"a.b;c'd", "a_b_c_d"},
        {"Дороги района", "Дороги_района"},
        {"ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ", "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ"}, // characters, not bytes
        {"Straße-Köln", "Straße_Köln"},
        {"a–b§c", "a_b_c"},
    };
    for (const auto& [base, expected] : cases)
        EXPECT_EQ(mapinfoTableFilesPull::PathToTableName(base), expected) << base;
    for (const char* s : {"a-", "7", "Ж", "é"})
        EXPECT_TRUE(isAlphaNumChar(s)) << s;
    for (const char* s : {"-a", " ", "~", "§", ""})
        EXPECT_FALSE(isAlphaNumChar(s)) << s;
}

class TableFilesTest : public test::TempDirTest
{
  protected:
    mapinfoTableFilesPull open(const std::string& name)
    {
        mapinfoTableFilesPull t;
        t.initByTABpath(path(name));
        return t;
    }
};

// Which components a group has, named as they exist on disk; a name ending in '/' is a folder.
TEST_F(TableFilesTest, GroupsComponentsFoundWithoutRegardToCase)
{
    const struct
    {
        std::string onDisk, given, components, tableName;
    } cases[] = {
        {"R.TAB R.DAT R.MAP R.ID", "R.TAB", "R.TAB|R.DAT|R.MAP|R.ID|", "R"},
        {"R.TAB R.DAT R.MAP R.ID", "R.DAT", "R.TAB|R.DAT|R.MAP|R.ID|", "R"},
        {"Roads.TAB roads.dat ROADS.Map roads.ID ROADS.ind", "Roads.TAB",
         "Roads.TAB|roads.dat|ROADS.Map|roads.ID|ROADS.ind", "Roads"},
        {"Roads.TAB roads.dat", "ROADS.tab", "Roads.TAB|roads.dat|||", "ROADS"}, // the given case names it
        {"R.TAB R.DAT R.MAP", "R.TAB", "R.TAB|R.DAT|||", "R"},                   // no geometry without .ID
        {"R.TAB R.MAP R.ID R.IND", "R.TAB", "R.TAB||R.MAP|R.ID|", "R"},          // no index without .DAT
        {"R.TAB", "R.TAB", "||||", ""},
        {"R.DAT R.MAP R.ID", "R.DAT", "||||", ""},
        {"R.TAB/ R.DAT", "R.TAB", "||||", ""},
        {"", "R.TAB", "||||", ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string sub = "c" + std::to_string(++n);
        fs::create_directory(dir() / sub);
        std::istringstream names(c.onDisk);
        for (std::string name; names >> name;)
            name.ends_with("/") ? void(fs::create_directory(dir() / sub / name))
                                : test::writeText(dir() / sub / name, "x");
        const auto t = open(sub + "/" + c.given);
        const std::string folder = c.tableName.empty() ? "" : withTrailingSeparator(path(sub));
        std::string components;
        for (int i = kTabIndex; i <= kIndIndex; ++i) {
            components += (i ? "|" : "") + t.ItemFileName(i);
            EXPECT_EQ(t.ItemFullpath(i), t.ItemFileName(i).empty() ? "" : folder + t.ItemFileName(i));
            if (!t.ItemFileName(i).empty()) {
                EXPECT_TRUE(fs::exists(test::u8path(t.ItemFullpath(i)))) << t.ItemFullpath(i);
            }
        }
        EXPECT_EQ(components, c.components) << c.onDisk;
        EXPECT_EQ(t.TableName(), c.tableName) << sub;
        EXPECT_EQ(t.TabBaseName(), c.tableName) << sub;
        EXPECT_EQ(t.ParentFolder(), folder) << sub;
        EXPECT_EQ(t.ItemFullpath(5) + t.ItemFullpath(-1) + t.ItemFileName(5), "");
    }
}

TEST_F(TableFilesTest, NamesWithBlanksQuotesAndCyrillic)
{
    const auto folderPath = dir() / test::u8path("мой 'каталог'");
    fs::create_directory(folderPath);
    test::writeText(folderPath / test::u8path("Дороги 2015.TAB"), "x");
    test::writeText(folderPath / test::u8path("Дороги 2015.DAT"), "x");
    const auto t = open("мой 'каталог'/Дороги 2015.TAB");
    EXPECT_EQ(t.TableName(), "Дороги_2015");
    // Reported with the system's separator, whichever the path was given with.
    EXPECT_EQ(t.DATfullpath(), withTrailingSeparator(test::utf8(dir())) + "мой 'каталог'" + pathSeparator() +
                                   "Дороги 2015.DAT");
    EXPECT_EQ(fileSystem().readAll(t.DATfullpath()), "x");
}

} // namespace
} // namespace tabrescue
