// Arbitrary .DAT bytes through the deleted-row count and the attribute recovery.
#include <array>

#include "base/byte_order.h"
#include "base/run_log.h"
#include "dat/dat_count.h"
#include "dat/dat_recover.h"
#include "fuzz/fuzz_support.h"
#include "support/table_builders.h"
#include "table/table_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tabrescue;
    using namespace tabrescue::fuzz;
    const std::string folder = freshFolder("dat");
    test::TabTextBuilder().field("ID Integer ;").field("NAME Char (8) ;").write(folder + "/t.TAB");
    writeFile(folder + "/t.DAT", {reinterpret_cast<const char*>(data), size});
    const Contents before = folderContents(folder);

    RunLog log;
    bool countFailed = false;
    const std::int32_t deleted = getDelDATcount(folder + "/t.DAT", &log, &countFailed);
    mapinfoTableFilesPull table;
    table.initByTABpath(folder + "/t.TAB");
    const RecoverResult result = doDelDAT_recover(table, &log);
    expectKept(folder, before);
    if (deleted < 0)
        fail("negative deleted-row count");
    if (result.count < 0)
        return 0;
    if (!countFailed && result.count != deleted)
        fail("count " + std::to_string(deleted) + " but recovery restored " + std::to_string(result.count));

    // The result's header describes exactly the bytes that were written.
    const std::string out = folder + "/t#R_DAT.DAT";
    std::array<std::byte, 12> head{};
    fileSystem().openRead(out).readExactAt(0, head);
    if (readLE16(head, 8) + std::uint64_t{readLE32(head, 4)} * readLE16(head, 10) + 1 !=
        fileSystem().fileSize(out))
        fail("result .DAT size does not match its header");
    return 0;
}
