// Writes a large synthetic table for the benchmarks and prints what it holds as JSON.
#include <charconv>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>

#include "synthetic_table.h"

namespace {

int usage(std::ostream& out, int status)
{
    out << "usage: tabrescue-gen-table [options] FOLDER\n"
           "  --rows N              rows and objects (default 10000)\n"
           "  --seed S              the same seed writes the same bytes (default 1)\n"
           "  --name NAME           base name of the four files (default bench)\n"
           "  --deleted-rows P      per mille of rows deleted with their geometry (default 30)\n"
           "  --erased-objects P    per mille of geometries deleted alone (default 5)\n"
           "  --style-over P        per mille of objects with a style index above its limit (default 10)\n"
           "  --garbage-blocks N    blocks of type 0x04 (default 2)\n";
    return status;
}

template <class T> bool parseNumber(std::string_view text, T& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

} // namespace

int main(int argc, char** argv)
{
    using namespace tabrescue::bench;
    TableRecipe recipe;
    std::string name = "bench";
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return usage(std::cout, 0);
        const bool takesValue = arg.size() > 2 && arg.substr(0, 2) == "--";
        if (!takesValue) {
            if (!folder.empty())
                return usage(std::cerr, 2);
            folder = arg;
            continue;
        }
        if (i + 1 >= argc)
            return usage(std::cerr, 2);
        const std::string_view value = argv[++i];
        bool ok = true;
        if (arg == "--rows")
            ok = parseNumber(value, recipe.rows);
        else if (arg == "--seed")
            ok = parseNumber(value, recipe.seed);
        else if (arg == "--name")
            name = value;
        else if (arg == "--deleted-rows")
            ok = parseNumber(value, recipe.deletedRowsPermille) && recipe.deletedRowsPermille <= 1000;
        else if (arg == "--erased-objects")
            ok = parseNumber(value, recipe.erasedObjectsPermille) && recipe.erasedObjectsPermille <= 1000;
        else if (arg == "--style-over")
            ok = parseNumber(value, recipe.styleOverLimitPermille) && recipe.styleOverLimitPermille <= 1000;
        else if (arg == "--garbage-blocks")
            ok = parseNumber(value, recipe.garbageBlocks);
        else
            ok = false;
        if (!ok || name.empty())
            return usage(std::cerr, 2);
    }
    if (folder.empty())
        return usage(std::cerr, 2);
    // Row numbers live in 30 bits of the row field; files must stay below 2 GiB.
    if (recipe.rows > 8000000) {
        std::cerr << "tabrescue-gen-table: at most 8000000 rows\n";
        return 2;
    }

    try {
        std::filesystem::create_directories(folder);
        std::cout << writeSyntheticTable(folder, name, recipe).json();
    } catch (const std::exception& e) {
        std::cerr << "tabrescue-gen-table: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
