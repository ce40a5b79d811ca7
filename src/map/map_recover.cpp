#include "map/map_recover.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/op_boundary.h"
#include "base/run_log.h"
#include "base/text_format.h"
#include "io/file_system.h"
#include "map/map_block_walk.h"
#include "map/map_layout.h"
#include "map/map_object_types.h"
#include "map/map_result_files.h"
#include "map/map_spatial_index.h"
#include "map/map_style_repair.h"
#include "table/dat_layout.h"
#include "table/table_files.h"

namespace tabrescue {

namespace {

// Renumbers every object the walk meets, resets style indexes above the header's limits and
// appends one .ID entry and one .DAT row per object.
class GeometryRecovery : public map::BlockVisitor
{
  public:
    GeometryRecovery(RunLog* log, std::span<const std::byte> header, AppendWriter& id, AppendWriter& dat)
        : m_log(log), m_id(id), m_dat(dat), m_styles(header), m_boxes(header)
    {
    }

    void objectBlock(std::uint64_t offset, std::span<std::byte> block) override
    {
        m_boxes.beginBlock(offset, block);
    }

    void objectBlockEnd(std::uint64_t /*offset*/, std::span<std::byte> /*block*/,
                        map::BlockEnd /*how*/) override
    {
        m_boxes.endBlock();
    }

    void otherBlock(std::uint64_t offset, std::uint8_t type) override
    {
        if (type != map::kHandRepairBlock)
            return;
        std::string line = "Block &H04 at offset ";
        appendDecimal(line, offset + 1, 8);
        line += " found. Handelmade operations are needful.";
        LogStr_to_TxtBox(m_log, line, "");
    }

    void record(const map::MapRecord& rec, std::span<std::byte> /*block*/) override
    {
        // Runs once per object of the table: no allocation, and the listing only when someone listens.
        m_boxes.addRecord(rec.code, rec.bytes); // before any of its bytes change
        const auto rowIdNew = static_cast<std::uint32_t>(++m_objects);
        const bool deleted = map::isDeleted(rec.rowField);
        const std::uint32_t rowIdOld = map::rowNumber(rec.rowField); // a live row field has no mark to drop
        if (deleted)
            ++m_deleted;
        writeLE32(rec.bytes, map::kRecordRowFieldOffset, rowIdNew);

        static constexpr char kHex[] = "0123456789ABCDEF";
        const std::array<char, 4> status{deleted ? 'D' : ' ', rec.length == 0 ? 'U' : ' ',
                                         kHex[rec.code >> 4], kHex[rec.code & 0xF]};
        if (m_log != nullptr && m_log->wantsListing())
            listObject(rec, status, rowIdOld, rowIdNew);

        writeLE32(m_id.appendInPlace(map::kIdEntrySize), 0, static_cast<std::uint32_t>(rec.offset));

        const std::span<std::byte> row = m_dat.appendInPlace(map::kResultRowSize);
        row[0] = dat::kLiveRow;
        writeLE32(row, map::kResultRowIdNewOffset, rowIdNew);
        writeLE32(row, map::kResultRowIdOldOffset, rowIdOld);
        writeLE32(row, map::kResultMapOffsetOffset, static_cast<std::uint32_t>(rec.offset + 1));
        std::memcpy(row.data() + map::kResultStatusOffset, status.data(), status.size());

        ++m_classCounts[static_cast<std::size_t>(map::geoType(rec.code).countClass)];
        m_styles.repair(rec);
    }

    std::int32_t objects() const { return m_objects; }
    std::int32_t deleted() const { return m_deleted; }
    const std::vector<map::IndexEntry>& indexLeaves() const { return m_boxes.leaves(); }
    void reserveLeaves(std::size_t blocks) { m_boxes.reserve(blocks); }
    std::int32_t classCount(map::GeoClass c) const { return m_classCounts[static_cast<std::size_t>(c)]; }

  private:
    void listObject(const map::MapRecord& rec, const std::array<char, 4>& status, std::uint32_t rowIdOld,
                    std::uint32_t rowIdNew)
    {
        std::string line(1, status[0]);
        line += '\t';
        appendDecimal(line, rowIdOld, 8);
        line += '\t';
        appendDecimal(line, rowIdNew, 8);
        line += '\t';
        appendDecimal(line, rec.offset, 8);
        line += '\t';
        line.append(status.data(), status.size());
        ExportLog(m_log, line, 1);
    }

    RunLog* m_log;
    AppendWriter& m_id;
    AppendWriter& m_dat;
    map::StyleRepair m_styles;
    std::array<std::int32_t, 5> m_classCounts{}; // by GeoClass
    std::int32_t m_objects = 0;
    std::int32_t m_deleted = 0;
    map::BlockBoxes m_boxes; // one spatial-index leaf per object data block
};

// Pushes what the writers hold to disk when the walk fails, so the result files keep every
// object handled up to the error.
class FlushOnError
{
  public:
    explicit FlushOnError(std::initializer_list<AppendWriter*> writers) : m_writers(writers) {}
    ~FlushOnError()
    {
        if (std::uncaught_exceptions() == m_exceptions)
            return;
        for (AppendWriter* w : m_writers) {
            try {
                w->flush();
            } catch (...) {
            }
        }
    }
    FlushOnError(const FlushOnError&) = delete;
    FlushOnError& operator=(const FlushOnError&) = delete;

  private:
    std::vector<AppendWriter*> m_writers;
    int m_exceptions = std::uncaught_exceptions();
};

} // namespace

RecoverResult doDelMAP_ID_recover(const mapinfoTableFilesPull& table, RunLog* log)
{
    RecoverResult result{-1, {}};
    guarded(log, "doDelMAP_ID_recover", [&] {
        FileSystem& fs = fileSystem();
        const std::string mapPath = table.MAPfullpath();
        if (!fileFoundOrLogged(mapPath, log))
            return;

        // Everything that can refuse the working copy is checked before any result file exists.
        BinaryFile source = fs.openRead(mapPath);
        std::array<std::byte, map::kRewrittenHeaderSize> header{};
        source.readExactAt(0, header);
        map::checkWalkable(header, source.size());

        const std::string prefix = table.ParentFolder() + table.TabBaseName();
        const std::string mapOut = prefix + "#R_MAP.MAP";
        const std::string idOut = prefix + "#R_MAP.ID";
        const std::string datOut = prefix + "#R_MAP.DAT";
        const std::string tabOut = prefix + "#R_MAP.TAB";
        for (const std::string* p : {&mapOut, &idOut, &datOut})
            if (fs.fileExists(*p))
                fs.deleteFile(*p);

        BinaryFile mapFile = fs.create(mapOut);
        BinaryFile idFile = fs.create(idOut);
        BinaryFile datFile = fs.create(datOut);

        std::vector<std::byte> datHeader, datClosing;
        doDAT_for_MAP_title(datHeader, datClosing);
        datFile.writeAt(0, datHeader);

        AppendWriter idWriter(idFile, 0);
        AppendWriter datWriter(datFile, datHeader.size());
        GeometryRecovery recovery(log, header, idWriter, datWriter);
        // At most one leaf per block after the first two; reserved, not touched, up to a bound.
        constexpr std::uint64_t kLeavesReservedAtMost = std::uint64_t{1} << 20;
        const std::uint64_t walked =
            source.size() > map::kFirstWalkedBlock ? source.size() - map::kFirstWalkedBlock : 0;
        recovery.reserveLeaves(static_cast<std::size_t>(
            std::min(kLeavesReservedAtMost, (walked + map::kBlockSize - 1) / map::kBlockSize)));
        ExportLog(log, "Del?\tRowId_old\tRowId_new\tMI offset \tType", 1);
        FlushOnError flushOnError{&idWriter, &datWriter};
        // One pass copies the working .MAP into the result and renumbers it on the way.
        map::walkBlocks(source, log, recovery, {.copyTo = &mapFile});

        idWriter.flush();
        idFile.close();

        datWriter.append(datClosing);
        datWriter.flush();
        std::array<std::byte, 4> number{};
        writeLE32(number, 0, static_cast<std::uint32_t>(recovery.objects()));
        datFile.writeAt(dat::kRecordCountOffset, number);
        datFile.close();

        const std::pair<std::size_t, std::int32_t> fields[] = {
            {map::kPointCountOffset, recovery.classCount(map::GeoClass::Point)},
            {map::kLineCountOffset, recovery.classCount(map::GeoClass::Line)},
            {map::kAreaCountOffset, recovery.classCount(map::GeoClass::Area)},
            {map::kTextCountOffset, recovery.classCount(map::GeoClass::Text)},
        };
        for (const auto& [at, value] : fields) {
            writeLE32(number, 0, static_cast<std::uint32_t>(value));
            mapFile.writeAt(at, number);
        }
        // Readers that search by area find every object only through a real index.
        map::writeSpatialIndex(mapFile, source.size(), recovery.indexLeaves());
        mapFile.close();

        fs.writeAll(tabOut, makeMapResultTabText());

        result.count = recovery.deleted();
        result.tabPath = fs.resolve(tabOut);
    });
    return result;
}

} // namespace tabrescue
