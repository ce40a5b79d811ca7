// Writes the geometry result table beside a table and prints the result's .TAB path; the
// spatial-filter check drives it on tables that GDAL wrote.
#include <iostream>

#include "base/run_log.h"
#include "map/map_recover.h"
#include "table/table_files.h"

int main(int argc, char** argv)
{
    using namespace tabrescue;
    if (argc != 2) {
        std::cerr << "usage: map_recover_tool TABLE.TAB\n";
        return 2;
    }
    mapinfoTableFilesPull table;
    table.initByTABpath(argv[1]);
    RunLog log;
    const RecoverResult result = doDelMAP_ID_recover(table, &log);
    if (result.count < 0) {
        std::cerr << log.text();
        return 1;
    }
    std::cout << result.tabPath << "\n";
    return 0;
}
