#include "dat/dat_recover.h"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "base/byte_order.h"
#include "base/op_boundary.h"
#include "base/run_log.h"
#include "io/file_system.h"
#include "table/table_files.h"
#include "table/dat_layout.h"
#include "table/tab_text.h"

namespace tabrescue {

namespace {

constexpr std::string_view kOperation = "doDelDAT_recover";
constexpr std::string_view kResultSuffix = "#R_DAT";
constexpr std::uint32_t kFieldLimit = std::numeric_limits<std::uint16_t>::max();
// Fixed header and its terminator: the shortest header whose terminator does not overlap its numbers.
constexpr std::uint32_t kMinHeaderLength = dat::kFixedHeaderSize + 1;
constexpr std::byte kDeletedStatus{'D'};

struct AddedField
{
    std::string_view name;
    std::uint8_t length;
};
// RowId_old holds a 32-bit integer although its descriptor says Char(4); the definition text
// declares it Integer.
constexpr std::array<AddedField, 2> kAddedFields{{{"RowId_old", 4}, {"rec_status", 1}}};
constexpr std::uint32_t kAddedHeader = kAddedFields.size() * dat::kDescriptorSize;
constexpr std::uint32_t kAddedRecord = 4 + 1;

void putDescriptor(std::span<std::byte> at, const AddedField& field)
{
    std::fill(at.begin(), at.begin() + dat::kDescriptorSize, std::byte{0});
    for (std::size_t i = 0; i < field.name.size() && i < dat::kDescriptorNameSize; ++i)
        at[i] = static_cast<std::byte>(field.name[i]);
    at[dat::kDescriptorTypeOffset] = std::byte{'C'};
    at[dat::kDescriptorLengthOffset] = std::byte{field.length};
}

} // namespace

RecoverResult doDelDAT_recover(const mapinfoTableFilesPull& table, RunLog* log)
{
    RecoverResult result{-1, {}};
    guarded(log, kOperation, [&] {
        FileSystem& fs = fileSystem();
        const std::string tabPath = table.TABfullPath();
        if (!fileFoundOrLogged(tabPath, log))
            return;
        const std::string prefix = table.ParentFolder() + table.TabBaseName() + std::string(kResultSuffix);
        const std::string outDatPath = prefix + ".DAT";
        const std::string outTabPath = prefix + ".TAB";

        // A result .TAB of an earlier call must not describe the .DAT written now.
        if (fs.fileExists(outTabPath))
            fs.deleteFile(outTabPath);
        BinaryFile out = createFreshFile(outDatPath);
        BinaryFile in = fs.openRead(table.DATfullpath());

        const dat::DatHeader h = dat::readDatHeader(in);
        const std::uint32_t headerLength = h.headerLength;
        const std::uint32_t recordLength = h.recordLength;
        if (h.recordCount > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
            throwOverflow();
        if (headerLength < kMinHeaderLength)
            throw RecoverError(kErrInvalidCall, "Invalid header length " + std::to_string(headerLength) +
                                                    " in '" + in.path() + "'");
        // Both length fields are unsigned 16-bit; only what cannot be stored is refused.
        if (headerLength + kAddedHeader > kFieldLimit || recordLength + kAddedRecord > kFieldLimit)
            throwOverflow();
        if (headerLength + std::uint64_t{h.recordCount} * recordLength + 1 > dat::kMaxPosition)
            throwOverflow();

        // New header: the input's header and descriptors, two descriptors in place of the
        // terminator, then the terminator; record count 0 until the rows are written.
        std::vector<std::byte> header(headerLength + kAddedHeader);
        in.readExactAt(0, std::span<std::byte>(header.data(), headerLength));
        writeLE32(header, dat::kRecordCountOffset, 0);
        writeLE16(header, dat::kHeaderLengthOffset, static_cast<std::uint16_t>(headerLength + kAddedHeader));
        writeLE16(header, dat::kRecordLengthOffset, static_cast<std::uint16_t>(recordLength + kAddedRecord));
        std::size_t at = headerLength - 1;
        for (const AddedField& field : kAddedFields) {
            putDescriptor(std::span<std::byte>(header).subspan(at, dat::kDescriptorSize), field);
            at += dat::kDescriptorSize;
        }
        header[at] = dat::kHeaderTerminator;
        out.writeAt(0, header);

        if (recordLength == 0)
            throw RecoverError(kErrInvalidCall,
                               "Invalid procedure call or argument: record length 0 in '" + in.path() + "'");

        // Each row goes to the writer in pieces, with no copy of its own: a live status byte, the
        // rest of the row, its old number and its status. Every row comes out live.
        ChunkReader reader(in);
        AppendWriter writer(out, header.size());
        static constexpr std::array<std::byte, 1> kLive{dat::kLiveRow};
        std::int32_t rowNumber = 0;
        std::int32_t deleted = 0;
        for (std::uint64_t k = 0; k <= h.recordCount; ++k) {
            const auto slot = reader.view(headerLength + k * recordLength, recordLength);
            if (slot.empty() || slot[0] == dat::kEndMark)
                break;
            const bool wasDeleted = slot[0] == dat::kDeletedRow;
            if (wasDeleted)
                ++deleted;
            ++rowNumber;
            writer.append(kLive);
            writer.append(slot.subspan(1));
            // A file that ends inside its last row: the missing bytes are zeros.
            if (slot.size() < recordLength)
                writer.append(std::vector<std::byte>(recordLength - slot.size()));
            std::array<std::byte, kAddedRecord> added{};
            writeLE32(added, 0, static_cast<std::uint32_t>(rowNumber));
            added[4] = wasDeleted ? kDeletedStatus : dat::kLiveRow;
            writer.append(added);
        }
        in.close();
        const std::array<std::byte, 1> endMark{dat::kEndMark};
        writer.append(endMark);
        writer.flush();
        std::array<std::byte, 4> count{};
        writeLE32(count, 0, static_cast<std::uint32_t>(rowNumber));
        out.writeAt(dat::kRecordCountOffset, count);
        out.close();

        const std::string definition = fs.readAll(tabPath);
        const std::string resultText = makeDatResultTabText(definition);
        if (resultText.empty())
            throw RecoverError(kErrInvalidCall,
                               "The table definition in '" + fs.resolve(tabPath) + "' is not recognised");
        BinaryFile tab = createFreshFile(outTabPath);
        tab.writeAt(0, std::as_bytes(std::span<const char>(resultText.data(), resultText.size())));
        tab.close();

        result.count = deleted;
        result.tabPath = outTabPath;
    });
    return result;
}

} // namespace tabrescue
