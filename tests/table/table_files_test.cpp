#include <gtest/gtest.h>

#include "table/table_files.h"

namespace tabrescue {
namespace {

// No output shows the cleaned name, but an empty one makes a group unusable.
TEST(TableName, CleansTheBaseName)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""}, {"Roads", "Roads"}, {"~AB12", "~AB12"},
        {"2015 roads-main", "_2015_roads_main"},
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

} // namespace
} // namespace tabrescue
