// Arbitrary .DAT bytes through the deleted-row count and the attribute recovery.
#include <array>
#include <cstdint>
#include <string>

#include "base/byte_order.h"
#include "base/run_log.h"
#include "dat/dat_count.h"
#include "dat/dat_recover.h"
#include "fuzz/fuzz_support.h"
#include "io/file_system.h"
#include "table/table_files.h"

namespace {

using namespace tabrescue;

constexpr std::string_view kTabText = "!table\r\n!version 300\r\n!charset WindowsLatin1\r\n\r\n"
                                      "Definition Table\r\n  Type NATIVE Charset \"WindowsLatin1\"\r\n"
                                      "  Fields 2\r\n    ID Integer ;\r\n    NAME Char (8) ;\r\n";

std::uint64_t fileSizeOf(const std::string& path)
{
    return fileSystem().fileSize(path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tabrescue::fuzz;
    const std::string folder = freshFolder("dat");
    const std::string tab = folder + "/t.TAB";
    const std::string dat = folder + "/t.DAT";
    writeFile(tab, kTabText);
    writeFile(dat, asText({data, size}));
    const Contents before = folderContents(folder);

    RunLog log;
    bool countFailed = false;
    const std::int32_t deleted = getDelDATcount(dat, &log, &countFailed);
    mapinfoTableFilesPull table;
    table.initByTABpath(tab);
    const RecoverResult result = doDelDAT_recover(table, &log);
    expectUnchanged(folder, before);

    if (deleted < 0)
        fail("negative deleted-row count");
    if (result.count < 0)
        return 0;
    if (!countFailed && result.count != deleted)
        fail("count " + std::to_string(deleted) + " but recovery restored " + std::to_string(result.count));

    // The result's header must describe exactly the bytes that were written.
    const std::string out = folder + "/t#R_DAT.DAT";
    BinaryFile file = fileSystem().openRead(out);
    std::array<std::byte, 12> head{};
    file.readExactAt(0, head);
    const std::uint64_t rows = readLE32(head, 4);
    const std::uint64_t headerLength = readLE16(head, 8);
    const std::uint64_t recordLength = readLE16(head, 10);
    if (headerLength + rows * recordLength + 1 != fileSizeOf(out))
        fail("result .DAT size does not match its header");
    return 0;
}
