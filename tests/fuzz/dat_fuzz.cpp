// Arbitrary .DAT bytes through the deleted-row count and the attribute recovery.
#include "base/byte_order.h"
#include "dat/dat_count.h"
#include "dat/dat_recover.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/structure_mutator.h"
#include "support/table_builders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tabrescue;
    const fuzz::Execution execution;
    const std::string folder = fuzz::freshFolder("dat");
    test::TabTextBuilder().field("ID Integer ;").field("NAME Char (8) ;").write(folder + "/t.TAB");
    test::writeText(folder + "/t.DAT", {reinterpret_cast<const char*>(data), size});
    RunLog log;
    if (!fuzz::countAndRecover(folder + "/t.DAT", log, getDelDATcount, doDelDAT_recover))
        return 0;

    // The result's header describes exactly the bytes that were written.
    const test::Bytes h = test::readBytes(folder + "/t#R_DAT.DAT");
    if (h.size() < 12 ||
        readLE16(h, 8) + std::uint64_t{readLE32(h, 4)} * readLE16(h, 10) + 1 != h.size())
        fuzz::fail("result .DAT size does not match its header");
    return 0;
}

#ifdef TABRESCUE_LIBFUZZER
extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize, unsigned seed)
{
    return tabrescue::fuzz::mutateDat(data, size, maxSize, seed);
}
#endif
