#include "map/map_recover.h"

#include <array>
#include <exception>
#include <string>
#include <vector>

#include "app/run_log.h"
#include "dat/dat_layout.h"
#include "map/map_block_walk.h"
#include "map/map_layout.h"
#include "map/map_result_files.h"
#include "map/map_spatial_index.h"
#include "table/byte_order.h"
#include "table/file_system.h"
#include "table/op_boundary.h"

namespace tabrescue {

namespace {

// Renumbers every object the walk meets, resets style indexes above the header's limits and
// appends one .ID entry and one .DAT row per object.
class GeometryRecovery : public map::BlockVisitor
{
  public:
    GeometryRecovery(RunLog* log, std::span<const std::byte> header, AppendWriter& id, AppendWriter& dat)
        : m_log(log), m_id(id), m_dat(dat), m_boxes(header)
    {
        for (std::size_t i = 0; i < m_limits.size(); ++i)
            m_limits[i] = std::to_integer<std::uint8_t>(header[map::kLimitOffsets[i]]);
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
        map::appendDecimal(line, offset + 1, 8);
        line += " found. Handelmade operations are needful.";
        LogStr_to_TxtBox(m_log, line, "");
    }

    void record(const map::MapRecord& rec, std::span<std::byte> /*block*/) override
    {
        m_boxes.addRecord(rec.code, rec.bytes); // before any of its bytes change
        const std::int32_t rowIdNew = ++m_objects;
        const bool deleted = map::isDeleted(rec.rowField);
        const std::uint32_t rowIdOld = deleted ? map::rowNumber(rec.rowField) : rec.rowField;
        if (deleted)
            ++m_deleted;
        writeLE32(rec.bytes, map::kRecordRowFieldOffset, static_cast<std::uint32_t>(rowIdNew));

        std::array<char, 4> status{deleted ? 'D' : ' ', rec.length == 0 ? 'U' : ' ', '0', '0'};
        static constexpr char kHex[] = "0123456789ABCDEF";
        status[2] = kHex[rec.code >> 4];
        status[3] = kHex[rec.code & 0xF];

        if (m_log != nullptr && m_log->wantsListing()) {
            std::string line(1, status[0]);
            line += '\t';
            map::appendDecimal(line, rowIdOld, 8);
            line += '\t';
            map::appendDecimal(line, static_cast<std::uint32_t>(rowIdNew), 8);
            line += '\t';
            map::appendDecimal(line, rec.offset, 8);
            line += '\t';
            line.append(status.data(), status.size());
            ExportLog(m_log, line, 1);
        }

        std::array<std::byte, map::kIdEntrySize> entry{};
        writeLE32(entry, 0, static_cast<std::uint32_t>(rec.offset));
        m_id.append(entry);

        std::array<std::byte, map::kResultRowSize> row{};
        row[0] = dat::kLiveRow;
        writeLE32(row, map::kResultRowIdNewOffset, static_cast<std::uint32_t>(rowIdNew));
        writeLE32(row, map::kResultRowIdOldOffset, rowIdOld);
        writeLE32(row, map::kResultMapOffsetOffset, static_cast<std::uint32_t>(rec.offset + 1));
        for (std::size_t i = 0; i < status.size(); ++i)
            row[map::kResultStatusOffset + i] = static_cast<std::byte>(status[i]);
        m_dat.append(row);

        checkStyles(rec);
    }

    std::int32_t objects() const { return m_objects; }
    std::int32_t deleted() const { return m_deleted; }
    const std::vector<map::IndexEntry>& indexLeaves() const { return m_boxes.leaves(); }
    std::int32_t classCount(map::GeoClass c) const { return m_classCounts[static_cast<std::size_t>(c)]; }

  private:
    void checkStyles(const map::MapRecord& rec)
    {
        const map::GeoType& type = map::geoType(rec.code);
        ++m_classCounts[static_cast<std::size_t>(type.geoClass)];
        // A record of unknown length has no style bytes in the table, so `last` is always defined.
        const std::size_t last = static_cast<std::size_t>(rec.length) - 1;
        for (std::size_t i = 0; i < type.styleCount; ++i) {
            const map::StyleByte& s = type.styles[i];
            if (s.beforeLast > last)
                continue;
            const std::size_t at = last - s.beforeLast;
            if (at >= rec.bytes.size()) // beyond the end of the file
                continue;
            if (std::to_integer<std::uint8_t>(rec.bytes[at]) > m_limits[static_cast<std::size_t>(s.limit)])
                rec.bytes[at] = std::byte{1};
        }
    }

    RunLog* m_log;
    AppendWriter& m_id;
    AppendWriter& m_dat;
    std::array<std::uint8_t, 4> m_limits{};      // by StyleLimit
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
        if (!fs.fileExists(mapPath)) {
            LogStr_to_TxtBox(log, "File '" + mapPath + "' was not  found.", "");
            return;
        }

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
