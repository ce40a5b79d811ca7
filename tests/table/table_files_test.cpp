#include <gtest/gtest.h>

#include "support/files.h"
#include "support/temp_dir.h"
#include "table/file_system.h"
#include "table/table_files.h"

namespace tabrescue {
namespace {

struct NameCase {
    const char* name;
    std::string base;
    std::string expected;
};

class TableNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(TableNameTest, CleansBaseName)
{
    EXPECT_EQ(mapinfoTableFilesPull::PathToTableName(GetParam().base), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, TableNameTest,
    ::testing::Values(NameCase{"Empty", "", ""}, NameCase{"Plain", "Roads", "Roads"},
                      NameCase{"DigitFirst", "2015 roads-main", "_2015_roads_main"},
                      NameCase{"TildeStays", "~AB12", "~AB12"},
                      NameCase{"CutTo31", std::string(40, 'a'), std::string(31, 'a')},
                      NameCase{"DigitFirst31", "1" + std::string(30, 'b'), "_1" + std::string(29, 'b')},
                      NameCase{"Punctuation", "a.b;c'd", "a_b_c_d"},
                      NameCase{"Cyrillic", "Дороги района", "Дороги_района"},
                      // 33 letters cut to 31 characters, not bytes
                      NameCase{"CyrillicCut", "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ",
                               "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ"},
                      NameCase{"AccentedLatin", "Straße-Köln", "Straße_Köln"},
                      NameCase{"SymbolsBeyondAscii", "a–b§c", "a_b_c"}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST(IsAlphaNumChar, LooksAtFirstCharacterOnly)
{
    EXPECT_TRUE(isAlphaNumChar("a-"));
    EXPECT_TRUE(isAlphaNumChar("7"));
    EXPECT_TRUE(isAlphaNumChar("Ж"));
    EXPECT_TRUE(isAlphaNumChar("é"));
    EXPECT_FALSE(isAlphaNumChar("-a"));
    EXPECT_FALSE(isAlphaNumChar(" "));
    EXPECT_FALSE(isAlphaNumChar("~"));
    EXPECT_FALSE(isAlphaNumChar("§"));
    EXPECT_FALSE(isAlphaNumChar(""));
}

class TableFilesTest : public test::TempDirTest {
protected:
    void touch(const std::string& name) { test::writeText(dir() / name, "x"); }
    mapinfoTableFilesPull open(const std::string& name)
    {
        mapinfoTableFilesPull t;
        t.initByTABpath(path(name));
        return t;
    }
    std::string folder() const { return withTrailingSeparator(test::utf8(dir())); }
};

TEST_F(TableFilesTest, FullGroupWithoutIndex)
{
    for (auto n : {"Roads.TAB", "Roads.DAT", "Roads.MAP", "Roads.ID"})
        touch(n);
    for (auto given : {"Roads.TAB", "Roads.DAT"}) {
        const auto t = open(given);
        EXPECT_EQ(t.TABfile(), "Roads.TAB");
        EXPECT_EQ(t.DATfile(), "Roads.DAT");
        EXPECT_EQ(t.MAPfile(), "Roads.MAP");
        EXPECT_EQ(t.IDfile(), "Roads.ID");
        EXPECT_EQ(t.INDfile(), "");
        EXPECT_EQ(t.ParentFolder(), folder());
        EXPECT_EQ(t.TableName(), "Roads");
        EXPECT_EQ(t.TabBaseName(), "Roads");
        EXPECT_EQ(t.MAPfullpath(), folder() + "Roads.MAP");
        EXPECT_EQ(t.ItemFullpath(kIdIndex), folder() + "Roads.ID");
        EXPECT_EQ(t.ItemFullpath(5), "");
        EXPECT_EQ(t.ItemFullpath(-1), "");
        EXPECT_EQ(t.ItemFileName(5), "");
    }
}

TEST_F(TableFilesTest, MapWithoutIdIsNoGeometry)
{
    for (auto n : {"Roads.TAB", "Roads.DAT", "Roads.MAP"})
        touch(n);
    const auto t = open("Roads.TAB");
    EXPECT_EQ(t.MAPfile(), "");
    EXPECT_EQ(t.IDfile(), "");
    EXPECT_EQ(t.MAPfullpath(), "");
    EXPECT_EQ(t.IDfullpath(), "");
    EXPECT_EQ(t.TableName(), "Roads");
}

TEST_F(TableFilesTest, IndexWithoutDatIsDropped)
{
    for (auto n : {"Roads.TAB", "Roads.MAP", "Roads.ID", "Roads.IND"})
        touch(n);
    const auto t = open("Roads.TAB");
    EXPECT_EQ(t.INDfile(), "");
    EXPECT_EQ(t.DATfile(), "");
    EXPECT_EQ(t.TableName(), "Roads");
}

TEST_F(TableFilesTest, UnusableGroupsReturnNothing)
{
    touch("Only.TAB");
    touch("NoTab.DAT");
    touch("NoTab.MAP");
    touch("NoTab.ID");
    for (auto given : {"Only.TAB", "NoTab.DAT", "Missing.TAB", ""}) {
        const auto t = open(given);
        EXPECT_EQ(t.TableName(), "") << given;
        EXPECT_EQ(t.TABfullPath(), "") << given;
        EXPECT_EQ(t.TABfile(), "") << given;
        EXPECT_EQ(t.ParentFolder(), "") << given;
        EXPECT_EQ(t.TabBaseName(), "") << given;
    }
}

TEST_F(TableFilesTest, FolderIsNoTable)
{
    std::filesystem::create_directory(dir() / "Roads.TAB");
    touch("Roads.DAT");
    EXPECT_EQ(open("Roads.TAB").TableName(), "");
}

TEST_F(TableFilesTest, ComponentsFoundWithoutRegardToCase)
{
    for (auto n : {"Roads.TAB", "roads.dat", "ROADS.Map", "roads.ID", "ROADS.ind"})
        touch(n);
    const auto t = open("Roads.TAB");
    EXPECT_EQ(t.TableName(), "Roads");
    // Names as they exist on disk, on systems that ignore case too.
    EXPECT_EQ(t.DATfile(), "roads.dat");
    EXPECT_EQ(t.MAPfile(), "ROADS.Map");
    EXPECT_EQ(t.IDfile(), "roads.ID");
    EXPECT_EQ(t.INDfile(), "ROADS.ind");
    EXPECT_EQ(t.DATfullpath(), folder() + "roads.dat");
    EXPECT_EQ(fileSystem().readAll(t.DATfullpath()), "x");
    EXPECT_EQ(fileSystem().readAll(t.INDfullpath()), "x");

    // Given in another case than on disk: the base name keeps the given case.
    const auto other = open("ROADS.tab");
    EXPECT_EQ(other.TabBaseName(), "ROADS");
    EXPECT_EQ(other.TABfile(), "Roads.TAB");
    EXPECT_EQ(fileSystem().readAll(other.MAPfullpath()), "x");
}

TEST_F(TableFilesTest, NamesWithBlanksQuotesAndCyrillic)
{
    const auto folderPath = dir() / test::u8path("мой 'каталог'");
    std::filesystem::create_directory(folderPath);
    test::writeText(folderPath / test::u8path("Дороги 2015.TAB"), "x");
    test::writeText(folderPath / test::u8path("Дороги 2015.DAT"), "x");
    const auto t = open("мой 'каталог'/Дороги 2015.TAB");
    EXPECT_EQ(t.TableName(), "Дороги_2015");
    // Reported with the system's separator, whichever the path was given with.
    EXPECT_EQ(t.DATfullpath(), folder() + "мой 'каталог'" + pathSeparator() + "Дороги 2015.DAT");
    EXPECT_EQ(fileSystem().readAll(t.DATfullpath()), "x");
}

} // namespace
} // namespace tabrescue
