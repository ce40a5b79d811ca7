// Arbitrary .MAP bytes through the deleted-geometry count and the geometry recovery, beside a table
// of one live row whose .ID points into the first object block.
#include "fuzz/fuzz_support.h"
#include "fuzz/structure_mutator.h"
#include "map/map_count.h"
#include "map/map_recover.h"
#include "support/table_builders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tabrescue;
    using namespace std::literals;
    const fuzz::Execution execution;
    const std::string folder = fuzz::freshFolder("map");
    test::TabTextBuilder().field("ID Integer ;").write(folder + "/t.TAB");
    test::DatBuilder().field("ID", 4).row(' ', "\x01\0\0\0"s).write(folder + "/t.DAT");
    test::writeText(folder + "/t.ID", "\0\x04\0\0"s);
    test::writeText(folder + "/t.MAP", {reinterpret_cast<const char*>(data), size});
    RunLog log;
    if (size % 4 == 0) // the listing for a quarter of the inputs: building it costs time
        log.setListingHook([](std::string_view) {});
    if (!fuzz::countAndRecover(folder + "/t.MAP", log, getDelMAPcount, doDelMAP_ID_recover))
        return 0;

    // The .MAP is patched in place, and only whole index blocks after padding to a block may follow;
    // one .ID entry and one .DAT row per object.
    const auto sizeOf = [&](const char* ext) { return fileSystem().fileSize(folder + "/t#R_MAP." + ext); };
    if (sizeOf("MAP") != size && (sizeOf("MAP") < size || sizeOf("MAP") % 512 != 0))
        fuzz::fail("result .MAP has another size than its source plus index blocks");
    if (sizeOf("ID") % 4 != 0 || sizeOf("DAT") != 179 + 17 * (sizeOf("ID") / 4))
        fuzz::fail("result .ID and .DAT do not hold one entry and one row per object");
    return 0;
}

#ifdef TABRESCUE_LIBFUZZER
extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize, unsigned seed)
{
    return tabrescue::fuzz::mutateMap(data, size, maxSize, seed);
}
#endif
