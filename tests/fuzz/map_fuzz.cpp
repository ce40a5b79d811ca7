// Arbitrary .MAP bytes through the deleted-geometry count and the geometry recovery.
#include <cstdint>
#include <string>

#include "base/run_log.h"
#include "fuzz/fuzz_support.h"
#include "io/file_system.h"
#include "map/map_count.h"
#include "map/map_recover.h"
#include "table/table_files.h"

namespace {

using namespace tabrescue;

constexpr std::string_view kTabText = "!table\r\n!version 300\r\n!charset WindowsLatin1\r\n\r\n"
                                      "Definition Table\r\n  Type NATIVE Charset \"WindowsLatin1\"\r\n"
                                      "  Fields 1\r\n    ID Integer ;\r\n";
// One live row of one Integer field.
constexpr std::string_view kDat = std::string_view("\x03\x7A\x05\x11\x01\x00\x00\x00\x41\x00\x05\x00"
                                                   "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"
                                                   "ID\0\0\0\0\0\0\0\0\0C\0\0\0\0\x04\0\0\0\0\0\0\0\0\0\0\0\0\0\0"
                                                   "\x0D \x01\0\0\0\x1A",
                                                   32 + 32 + 1 + 5 + 1);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tabrescue::fuzz;
    const std::string folder = freshFolder("map");
    const std::string tab = folder + "/t.TAB";
    const std::string map = folder + "/t.MAP";
    writeFile(tab, kTabText);
    writeFile(folder + "/t.DAT", kDat);
    writeFile(folder + "/t.ID", std::string_view("\x00\x04\x00\x00", 4));
    writeFile(map, asText({data, size}));
    const Contents before = folderContents(folder);

    RunLog log;
    std::size_t listed = 0;
    log.setListingHook([&](std::string_view) { ++listed; });
    bool countFailed = false;
    const std::int32_t deleted = getDelMAPcount(map, &log, &countFailed);
    mapinfoTableFilesPull table;
    table.initByTABpath(tab);
    const RecoverResult result = doDelMAP_ID_recover(table, &log);
    expectUnchanged(folder, before);

    if (deleted < 0)
        fail("negative deleted-geometry count");
    if (result.count < 0)
        return 0;
    if (!countFailed && result.count != deleted)
        fail("count " + std::to_string(deleted) + " but recovery restored " + std::to_string(result.count));

    // The result .MAP is patched in place; only whole index blocks after padding to a block may
    // follow. One .ID entry and one .DAT row per object.
    FileSystem& fsys = fileSystem();
    const std::uint64_t resultSize = fsys.fileSize(folder + "/t#R_MAP.MAP");
    if (resultSize != size && (resultSize < size || resultSize % 512 != 0))
        fail("result .MAP has another size than its source plus index blocks");
    const std::uint64_t objects = fsys.fileSize(folder + "/t#R_MAP.ID") / 4;
    if (fsys.fileSize(folder + "/t#R_MAP.ID") % 4 != 0)
        fail("result .ID is not a whole number of entries");
    if (fsys.fileSize(folder + "/t#R_MAP.DAT") != 179 + 17 * objects)
        fail("result .DAT does not hold one row per .ID entry");
    return 0;
}
