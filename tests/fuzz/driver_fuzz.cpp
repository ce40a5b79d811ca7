// A whole run on a table made of arbitrary bytes: the driver, then the moves into an output folder
// that already holds an earlier run's results. Input: one flag byte, then the .TAB text, the .DAT
// and the .MAP bytes, separated by kPartSeparator. Flags: 0x01 restore all, 0x02 write an .ID of
// (flags >> 6) entries, 0x04 write an .IND, 0x08 no .DAT, 0x10 no .MAP, 0x20 build the listing.
#include "fuzz/fuzz_support.h"
#include "recovery/run.h"
#include "support/test_frontend.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tabrescue;
    using namespace tabrescue::fuzz;
    if (size == 0)
        return 0;
    const std::uint8_t flags = data[0];
    const auto parts = splitParts({reinterpret_cast<const char*>(data) + 1, size - 1}, 3);
    const std::string in = freshFolder("in");
    writeFile(in + "/t.TAB", parts[0]);
    if (!(flags & 0x08))
        writeFile(in + "/t.DAT", parts[1]);
    if (!(flags & 0x10))
        writeFile(in + "/t.MAP", parts[2]);
    if (flags & 0x02)
        writeFile(in + "/t.ID", std::string(4 * (flags >> 6), '\0'));
    if (flags & 0x04)
        writeFile(in + "/t.IND", "index");
    const std::string out = freshFolder("out");
    for (const char* name : {"t_DAT.TAB", "t_DAT.DAT", "t_MAP.TAB", "t_MAP.MAP", "t_MAP.ID"})
        writeFile(out + "/" + name, name);
    const Contents inBefore = folderContents(in);
    const Contents outBefore = folderContents(out);

    test::TestFrontend frontend;
    if (!(flags & 0x20))
        frontend.log().setListingHook(nullptr);
    const RunOutcome r = runRecovery(frontend, RunInput{in + "/t.tab", out, (flags & 0x01) != 0});
    expectKept(in, inBefore);
    if (folderContents(in).size() != inBefore.size())
        fail("the run wrote into the input folder");
    expectKept(out, outBefore, true);
    if (r.result.status != 0 && r.result.status != 1)
        fail("status is neither 0 nor 1");
    endRun();
    return 0;
}
