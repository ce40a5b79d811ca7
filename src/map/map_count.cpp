#include "map/map_count.h"

#include "base/op_boundary.h"
#include "base/run_log.h"
#include "base/text_format.h"
#include "io/file_system.h"
#include "table/table_files.h"
#include "map/map_block_walk.h"
#include "map/map_layout.h"
#include "map/map_object_types.h"

namespace tabrescue {

namespace {

class DeletedCounter : public map::BlockVisitor
{
  public:
    DeletedCounter(RunLog* log, std::int32_t& count) : m_log(log), m_count(count) {}

    void record(const map::MapRecord& rec, std::span<std::byte> /*block*/) override
    {
        const bool deleted = map::isDeleted(rec.rowField);
        const std::uint32_t row = deleted ? map::rowNumber(rec.rowField) : rec.rowField;
        if (deleted)
            ++m_count;
        if (m_log != nullptr && m_log->wantsListing()) {
            std::string line = deleted ? " D: RowId := " : "  : RowId := ";
            appendDecimal(line, row);
            line += " MAP file offset := ";
            appendDecimal(line, rec.offset, 8);
            line += " geoType := &H";
            appendHex(line, rec.code);
            line += " (";
            line += getGeoTypeName(rec.code);
            line += ')';
            ExportLog(m_log, line, 1);
        }
        if (rec.length == 0) {
            std::string line = " *: RowId := ";
            appendDecimal(line, row);
            line += " unknow data type - unknow binary length ALL objects in current 'ODBlock' are ignored! "
                    "Goto Next 'ODBlock'.";
            ExportLog(m_log, line, 0);
        }
    }

  private:
    RunLog* m_log;
    std::int32_t& m_count;
};

} // namespace

std::int32_t getDelMAPcount(const std::string& mapPath, RunLog* log, bool* failed)
{
    std::int32_t count = 0;
    const bool ok = guarded(log, "getDelMAPcount", [&] {
        FileSystem& fs = fileSystem();
        if (!fileFoundOrLogged(mapPath, log))
            return;
        BinaryFile file = fs.openRead(mapPath);
        DeletedCounter counter(log, count);
        map::walkBlocks(file, log, counter);
    });
    if (failed != nullptr)
        *failed = !ok;
    return count;
}

} // namespace tabrescue
