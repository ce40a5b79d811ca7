// A whole run on a table made of arbitrary bytes: the driver, then the moves into an output folder
// that already holds an earlier run's results; or the undelete. Input: one flag byte, then the .TAB
// text, the .DAT and the .MAP bytes, separated by kPartSeparator. Flags: 0x01 restore all, 0x02
// write an .ID (of one entry with 0x40), 0x04 write an .IND, 0x08 no .DAT, 0x10 no .MAP, 0x20
// build the listing, 0x80 undelete instead.
#include "fuzz/fuzz_support.h"
#include "fuzz/structure_mutator.h"
#include "recovery/run.h"
#include "support/log_capture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tabrescue;
    using namespace fuzz;
    const Execution execution;
    const std::uint8_t flags = size ? data[0] : 0;
    std::string_view all(reinterpret_cast<const char*>(data) + (size > 0), size - (size > 0));
    std::string parts[3]; // missing parts stay empty, the last takes the rest
    for (std::size_t i = 0, at; i < 3; ++i) {
        at = i < 2 ? all.find(kPartSeparator) : all.npos;
        parts[i] = all.substr(0, at);
        all.remove_prefix(at == all.npos ? all.size() : at + kPartSeparator.size());
    }
    const std::string in = freshFolder("in"), ids(4 * ((flags >> 6) & 1), '\0');
    for (const auto& [name, bytes, wanted] : {std::tuple{"t.TAB", parts[0], true},
                                              {"t.DAT", parts[1], !(flags & 0x08)},
                                              {"t.MAP", parts[2], !(flags & 0x10)},
                                              {"t.ID", ids, (flags & 0x02) != 0},
                                              {"t.IND", std::string("index"), (flags & 0x04) != 0}})
        if (wanted)
            test::writeText(in + "/" + name, bytes);
    const std::string out = freshFolder("out");
    for (const char* name : {"t_DAT.TAB", "t_DAT.DAT", "t_MAP.TAB", "t_MAP.MAP", "t_MAP.ID", "t_undeleted.TAB",
                             "t_undeleted.DAT", "t_undeleted.MAP", "t_undeleted.ID"})
        test::writeText(out + "/" + name, name);
    const Snapshot inBefore = snapshot(in), outBefore = snapshot(out);

    test::TestFrontend frontend;
    if (!(flags & 0x20))
        frontend.log().setListingHook(nullptr);
    const RunInput input{in + "/t.tab", out, (flags & 0x01) != 0};
    const std::int32_t status =
        flags & 0x80 ? runUndelete(frontend, input).status : runRecovery(frontend, input).result.status;
    expectKept(in, inBefore);
    expectKept(out, outBefore, true);
    if (store().listFolder(in).size() != inBefore.size() || (status != 0 && status != 1))
        fail("the run wrote into the input folder, or its status is neither 0 nor 1");
    return 0;
}

#ifdef TABRESCUE_LIBFUZZER
// Half the time the flags or one part is changed with the file's own structure in mind.
extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize, unsigned seed)
{
    using namespace tabrescue::fuzz;
    Rng rng(seed);
    if (size == 0 || rng.oneIn(2))
        return LLVMFuzzerMutate(data, size, maxSize);
    std::string all(reinterpret_cast<const char*>(data), size);
    std::string parts[3];
    std::string_view rest = std::string_view(all).substr(1);
    for (std::size_t i = 0, at; i < 3; ++i) {
        at = i < 2 ? rest.find(kPartSeparator) : rest.npos;
        parts[i] = rest.substr(0, at);
        rest.remove_prefix(at == rest.npos ? rest.size() : at + kPartSeparator.size());
    }
    auto flags = static_cast<std::uint8_t>(all[0]);
    const std::size_t which = rng.below(3);
    if (which == 0) {
        flags ^= static_cast<std::uint8_t>(1u << rng.below(8));
    } else {
        std::string& part = parts[which];
        const std::size_t used = part.size(), room = std::max<std::size_t>(used * 2, 4096);
        part.resize(room);
        const std::size_t n = (which == 1 ? mutateDat : mutateMap)(reinterpret_cast<std::uint8_t*>(part.data()),
                                                               used, room, static_cast<unsigned>(rng.below(1u << 30)));
        part.resize(n);
    }
    std::string out(1, static_cast<char>(flags));
    out += parts[0] + std::string(kPartSeparator) + parts[1] + std::string(kPartSeparator) + parts[2];
    if (out.size() > maxSize)
        return LLVMFuzzerMutate(data, size, maxSize);
    std::memcpy(data, out.data(), out.size());
    return out.size();
}
#endif
