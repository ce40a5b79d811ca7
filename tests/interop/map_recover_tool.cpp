// Writes the geometry result table beside a table and prints the result's .TAB path; the
// spatial-filter check drives it on tables that GDAL wrote.
#include <iostream>
#include <stdexcept>

#include "base/run_log.h"
#include "map/map_recover.h"
#include "table/table_files.h"

int main(int argc, char** argv)
{
    using namespace tabrescue;
    mapinfoTableFilesPull table;
    table.initByTABpath(argc == 2 ? argv[1] : throw std::invalid_argument("one table, please"));
    RunLog log;
    const RecoverResult result = doDelMAP_ID_recover(table, &log);
    (result.count < 0 ? std::cerr << log.text() : std::cout << result.tabPath << "\n");
    return result.count < 0;
}
