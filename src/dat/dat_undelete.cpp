#include "dat/dat_undelete.h"

#include <algorithm>
#include <span>

#include "base/op_boundary.h"
#include "base/run_log.h"
#include "io/file_system.h"
#include "table/dat_layout.h"

namespace tabrescue {

namespace {

// Fixed header and its terminator: a row's status byte never lies on the header's numbers.
constexpr std::uint32_t kMinHeaderLength = dat::kFixedHeaderSize + 1;

} // namespace

std::optional<DatUndelete> undeleteDatRows(const std::string& inDat, const std::string& outDat, RunLog* log)
{
    std::optional<DatUndelete> result;
    guarded(log, "undeleteDatRows", [&] {
        FileSystem& fs = fileSystem();
        BinaryFile in = fs.openRead(inDat);
        const dat::DatHeader h = dat::readDatHeader(in);
        if (h.headerLength < kMinHeaderLength || h.recordLength == 0)
            throw RecoverError(kErrInvalidCall, "Invalid header length " + std::to_string(h.headerLength) +
                                                    " or record length " + std::to_string(h.recordLength) +
                                                    " in '" + in.path() + "'");
        if (h.headerLength + std::uint64_t{h.recordCount} * h.recordLength + 1 > dat::kMaxPosition)
            throwOverflow();

        BinaryFile out = createFreshFile(outDat);
        DatUndelete undelete;
        // One pass copies the file chunk by chunk and patches the status bytes that lie in each.
        const std::uint64_t size = in.size();
        const auto bufLen = static_cast<std::size_t>(std::min<std::uint64_t>(kStreamBufferSize, size));
        ScratchBuffer scratch(bufLen);
        std::uint64_t row = 0; // the next row slot whose status byte is still to come
        bool ended = false;
        for (std::uint64_t pos = 0; pos < size;) {
            const std::size_t got = in.readAt(pos, std::span<std::byte>(scratch.data(), bufLen));
            if (got == 0)
                break; // the file shrank under us
            const std::span<std::byte> data(scratch.data(), got);
            for (; !ended && row < h.recordCount; ++row) {
                const std::uint64_t status = h.headerLength + row * h.recordLength;
                if (status >= pos + got)
                    break;
                std::byte& b = data[static_cast<std::size_t>(status - pos)];
                if (b == dat::kEndMark) {
                    ended = true;
                    break;
                }
                if (b == dat::kDeletedRow) {
                    b = dat::kLiveRow;
                    undelete.revivedRows.push_back(static_cast<std::uint32_t>(row + 1));
                }
            }
            out.writeAt(pos, data);
            pos += got;
        }
        out.close();
        undelete.rows = row;
        result = std::move(undelete);
    });
    return result;
}

} // namespace tabrescue
