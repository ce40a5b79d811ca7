// A whole recovery on a table made of arbitrary bytes. Input: one flag byte, then the .TAB text, the
// .DAT and the .MAP bytes, separated by kPartSeparator. Flags: 0x01 restore all, 0x02 write an .ID
// of (flags >> 6) entries, 0x04 write an .IND, 0x08 no .DAT, 0x10 no .MAP, 0x20 build the listing.
#include <cstdint>
#include <string>

#include "app/run_log.h"
#include "fuzz/fuzz_support.h"
#include "table/recover_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tabrescue;
    using namespace tabrescue::fuzz;
    if (size == 0)
        return 0;
    const std::uint8_t flags = data[0];
    const auto parts = splitParts({data + 1, size - 1}, 3);

    const std::string folder = freshFolder("in");
    writeFile(folder + "/t.TAB", parts[0]);
    if (!(flags & 0x08))
        writeFile(folder + "/t.DAT", parts[1]);
    if (!(flags & 0x10))
        writeFile(folder + "/t.MAP", parts[2]);
    if (flags & 0x02)
        writeFile(folder + "/t.ID", std::string(4 * (flags >> 6), '\0'));
    if (flags & 0x04)
        writeFile(folder + "/t.IND", "index");
    const Contents before = folderContents(folder);

    RunLog log;
    if (flags & 0x20)
        log.setListingHook([](std::string_view) {});
    const RecoverRunResult r = mapinfoTabRecover(folder + "/t.tab", &log, (flags & 0x01) != 0);
    expectUnchanged(folder, before);
    if (folderContents(folder).size() != before.size())
        fail("the run wrote into the input folder");
    if (r.status != 0 && r.status != 1)
        fail("status is neither 0 nor 1");
    endRun();
    return 0;
}
