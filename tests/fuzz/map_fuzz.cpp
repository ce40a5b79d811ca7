// Arbitrary .MAP bytes through the deleted-geometry count and the geometry recovery, beside a table
// of one live row whose .ID points into the first object block.
#include "base/run_log.h"
#include "fuzz/fuzz_support.h"
#include "map/map_count.h"
#include "map/map_recover.h"
#include "support/table_builders.h"
#include "table/table_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tabrescue;
    using namespace tabrescue::fuzz;
    using namespace std::literals;
    const std::string folder = freshFolder("map");
    test::TabTextBuilder().field("ID Integer ;").write(folder + "/t.TAB");
    test::DatBuilder().field("ID", 4).row(' ', "\x01\0\0\0"s).write(folder + "/t.DAT");
    writeFile(folder + "/t.ID", "\0\x04\0\0"s);
    writeFile(folder + "/t.MAP", {reinterpret_cast<const char*>(data), size});
    const Contents before = folderContents(folder);

    RunLog log;
    log.setListingHook([](std::string_view) {});
    bool countFailed = false;
    const std::int32_t deleted = getDelMAPcount(folder + "/t.MAP", &log, &countFailed);
    mapinfoTableFilesPull table;
    table.initByTABpath(folder + "/t.TAB");
    const RecoverResult result = doDelMAP_ID_recover(table, &log);
    expectKept(folder, before);
    if (deleted < 0)
        fail("negative deleted-geometry count");
    if (result.count < 0)
        return 0;
    if (!countFailed && result.count != deleted)
        fail("count " + std::to_string(deleted) + " but recovery restored " + std::to_string(result.count));

    // The .MAP is patched in place, and only whole index blocks after padding to a block may follow;
    // one .ID entry and one .DAT row per object.
    FileSystem& files = fileSystem();
    const std::uint64_t mapSize = files.fileSize(folder + "/t#R_MAP.MAP");
    const std::uint64_t idSize = files.fileSize(folder + "/t#R_MAP.ID");
    if (mapSize != size && (mapSize < size || mapSize % 512 != 0))
        fail("result .MAP has another size than its source plus index blocks");
    if (idSize % 4 != 0 || files.fileSize(folder + "/t#R_MAP.DAT") != 179 + 17 * (idSize / 4))
        fail("result .ID and .DAT do not hold one entry and one row per object");
    return 0;
}
