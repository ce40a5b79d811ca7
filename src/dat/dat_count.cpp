#include "dat/dat_count.h"

#include <array>

#include "base/byte_order.h"
#include "base/op_boundary.h"
#include "base/run_log.h"
#include "io/file_system.h"
#include "table/table_files.h"
#include "table/dat_layout.h"

namespace tabrescue {

namespace dat {

DatHeader readDatHeader(BinaryFile& file)
{
    std::array<std::byte, 12> buf{};
    file.readExactAt(0, buf);
    DatHeader h;
    h.recordCount = readLE32(buf, kRecordCountOffset);
    h.headerLength = readLE16(buf, kHeaderLengthOffset);
    h.recordLength = readLE16(buf, kRecordLengthOffset);
    return h;
}

} // namespace dat

std::int32_t getDelDATcount(const std::string& datPath, RunLog* log, bool* failed)
{
    std::int32_t count = 0;
    const bool ok = guarded(log, "getDelDATcount", [&] {
        FileSystem& fs = fileSystem();
        if (!fileFoundOrLogged(datPath, log))
            return;
        BinaryFile file = fs.openRead(datPath);
        const dat::DatHeader h = dat::readDatHeader(file);
        if (h.recordLength == 0) // every slot would lie at one offset
            throw RecoverError(kErrInvalidCall, "Invalid procedure call or argument: record length 0");
        if (h.headerLength + std::uint64_t{h.recordCount} * h.recordLength + 1 > dat::kMaxPosition)
            throwOverflow();

        // Only the status byte of each slot matters; the reader streams the file in large chunks.
        ChunkReader reader(file);
        for (std::uint64_t k = 0; k <= h.recordCount; ++k) {
            const auto status = reader.view(h.headerLength + k * h.recordLength, 1);
            if (status.empty() || status[0] == dat::kEndMark)
                break;
            if (status[0] == dat::kDeletedRow)
                ++count;
        }
    });
    if (failed != nullptr)
        *failed = !ok;
    return count;
}

} // namespace tabrescue
