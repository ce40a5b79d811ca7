// The command line: the same core as the window, lines to standard output.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/run_log.h"
#include "dat/dat_count.h"
#include "table/table_files.h"

namespace {

int usage(std::ostream& out, int status)
{
    out << "usage: tabrescue --check TABLE.TAB [TABLE.TAB ...]\n";
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace tabrescue;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return usage(std::cerr, 2);
    if (args[0] == "--help" || args[0] == "-h")
        return usage(std::cout, 0);
    if (args[0] == "--version") {
        std::cout << "tabrescue " << TABRESCUE_VERSION << "\n";
        return 0;
    }
    if (args[0] != "--check" || args.size() < 2)
        return usage(std::cerr, 2);

    int status = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        RunLog log;
        log.setChangeHook([](std::string_view added, bool) { std::cerr << added; });
        mapinfoTableFilesPull table;
        table.initByTABpath(args[i]);
        bool failed = false;
        const auto rows = table.DATfullpath().empty() ? 0 : getDelDATcount(table.DATfullpath(), &log, &failed);
        if (table.TableName().empty() || failed)
            status = 1;
        std::cout << args[i] << ": " << rows << " deleted rows\n";
    }
    return status;
}
