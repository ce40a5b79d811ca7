// A whole run on a table made of arbitrary bytes: the driver, then the moves into an output folder
// that already holds an earlier run's results. Input: one flag byte, then the .TAB text, the .DAT
// and the .MAP bytes, separated by kPartSeparator. Flags: 0x01 restore all, 0x02 write an .ID of
// (flags >> 6) entries, 0x04 write an .IND, 0x08 no .DAT, 0x10 no .MAP, 0x20 build the listing.
#include "fuzz/fuzz_support.h"
#include "recovery/run.h"
#include "support/log_capture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tabrescue;
    using namespace fuzz;
    const std::uint8_t flags = size ? data[0] : 0;
    std::string_view all(reinterpret_cast<const char*>(data) + (size > 0), size - (size > 0));
    std::string parts[3]; // missing parts stay empty, the last takes the rest
    for (std::size_t i = 0, at; i < 3; ++i) {
        at = i < 2 ? all.find(kPartSeparator) : all.npos;
        parts[i] = all.substr(0, at);
        all.remove_prefix(at == all.npos ? all.size() : at + kPartSeparator.size());
    }
    const std::string in = freshFolder("in"), ids(4 * (flags >> 6), '\0');
    for (const auto& [name, bytes, wanted] : {std::tuple{"t.TAB", parts[0], true},
                                              {"t.DAT", parts[1], !(flags & 0x08)},
                                              {"t.MAP", parts[2], !(flags & 0x10)},
                                              {"t.ID", ids, (flags & 0x02) != 0},
                                              {"t.IND", std::string("index"), (flags & 0x04) != 0}})
        if (wanted)
            test::writeText(in + "/" + name, bytes);
    const std::string out = freshFolder("out");
    for (const char* name : {"t_DAT.TAB", "t_DAT.DAT", "t_MAP.TAB", "t_MAP.MAP", "t_MAP.ID"})
        test::writeText(out + "/" + name, name);
    const test::Snapshot inBefore = test::snapshot(in), outBefore = test::snapshot(out);

    test::TestFrontend frontend;
    if (!(flags & 0x20))
        frontend.log().setListingHook(nullptr);
    const RunOutcome r = runRecovery(frontend, RunInput{in + "/t.tab", out, (flags & 0x01) != 0});
    expectKept(in, inBefore);
    expectKept(out, outBefore, true);
    if (std::distance(std::filesystem::directory_iterator(in), {}) != std::ptrdiff_t(inBefore.size()) ||
        (r.result.status != 0 && r.result.status != 1))
        fail("the run wrote into the input folder, or its status is neither 0 nor 1");
    // The core's private folder goes, so that a long session does not fill the disk.
    test::removeTree(fileSystem().tempFolder());
    fileSystem().startNewRun();
    return 0;
}
