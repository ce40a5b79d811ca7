#include "map/map_undelete.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <vector>

#include "base/byte_order.h"
#include "base/op_boundary.h"
#include "base/run_log.h"
#include "io/file_system.h"
#include "map/map_block_walk.h"
#include "map/map_layout.h"
#include "map/map_spatial_index.h"
#include "map/map_style_repair.h"

namespace tabrescue {

namespace {

struct DeletedObject
{
    std::uint32_t offset = 0;
    std::uint32_t row = 0;
};

// The deleted objects of the object data blocks, in file order.
class DeletedObjects : public map::BlockVisitor
{
  public:
    void record(const map::MapRecord& rec, std::span<std::byte> /*block*/) override
    {
        if (map::isDeleted(rec.rowField))
            m_objects.push_back({static_cast<std::uint32_t>(rec.offset), map::rowNumber(rec.rowField)});
    }
    const std::vector<DeletedObject>& objects() const { return m_objects; }

  private:
    std::vector<DeletedObject> m_objects;
};

bool byOffset(const DeletedObject& a, const DeletedObject& b)
{
    return a.offset < b.offset;
}

// Index into `objects` (ordered by offset) of the object at `offset`, or objects.size().
std::size_t findAt(std::span<const DeletedObject> objects, std::uint32_t offset)
{
    const auto it = std::lower_bound(objects.begin(), objects.end(), DeletedObject{offset, 0}, byOffset);
    return it != objects.end() && it->offset == offset ? static_cast<std::size_t>(it - objects.begin())
                                                       : objects.size();
}

// Makes the chosen deleted objects live on the walk that copies the file, recounts the live
// objects by class and collects the spatial index's leaves over every object.
class Revival : public map::BlockVisitor
{
  public:
    Revival(std::span<const std::byte> header, std::span<const DeletedObject> deleted,
            const std::vector<bool>& revive)
        : m_deleted(deleted), m_revive(revive), m_styles(header), m_boxes(header)
    {
    }

    void objectBlock(std::uint64_t offset, std::span<std::byte> block) override
    {
        m_boxes.beginBlock(offset, block);
    }

    void record(const map::MapRecord& rec, std::span<std::byte> /*block*/) override
    {
        m_boxes.addRecord(rec.code, rec.bytes);
        if (map::isDeleted(rec.rowField)) {
            const std::size_t i = findAt(m_deleted, static_cast<std::uint32_t>(rec.offset));
            if (i == m_deleted.size() || !m_revive[i])
                return; // an older version of a changed geometry stays deleted
            writeLE32(rec.bytes, map::kRecordRowFieldOffset, map::rowNumber(rec.rowField));
            m_styles.repair(rec);
            ++m_revived;
        }
        ++m_classCounts[static_cast<std::size_t>(map::geoType(rec.code).countClass)];
    }

    void objectBlockEnd(std::uint64_t /*offset*/, std::span<std::byte> /*block*/,
                        map::BlockEnd /*how*/) override
    {
        m_boxes.endBlock();
    }

    std::uint64_t revived() const { return m_revived; }
    std::int32_t classCount(map::GeoClass c) const { return m_classCounts[static_cast<std::size_t>(c)]; }
    const std::vector<map::IndexEntry>& indexLeaves() const { return m_boxes.leaves(); }

  private:
    std::span<const DeletedObject> m_deleted;
    const std::vector<bool>& m_revive;
    map::StyleRepair m_styles;
    map::BlockBoxes m_boxes;
    std::array<std::int32_t, 5> m_classCounts{}; // by GeoClass
    std::uint64_t m_revived = 0;
};

} // namespace

std::optional<MapUndelete> undeleteMapObjects(const MapUndeleteFiles& files,
                                              std::optional<std::uint64_t> rows,
                                              std::span<const std::uint32_t> revivedRows, RunLog* log)
{
    std::optional<MapUndelete> result;
    guarded(log, "undeleteMapObjects", [&] {
        FileSystem& fs = fileSystem();
        BinaryFile source = fs.openRead(files.mapIn);
        std::array<std::byte, map::kRewrittenHeaderSize> header{};
        source.readExactAt(0, header);
        map::checkWalkable(header, source.size());

        // First walk: where the deleted objects lie. Its unknown-element lines would repeat the
        // second walk's, so it logs nothing.
        DeletedObjects finder;
        map::walkBlocks(source, nullptr, finder);
        const std::vector<DeletedObject>& deleted = finder.objects();
        std::vector<DeletedObject> byRow = deleted;
        // Stable: within a row the objects stay in file order, so the last is the newest version.
        std::stable_sort(byRow.begin(), byRow.end(),
                         [](const DeletedObject& a, const DeletedObject& b) { return a.row < b.row; });
        const auto lastOfRow = [&](std::uint64_t row) -> std::uint32_t {
            if (row > map::kRowNumberMask)
                return 0; // no row field can carry the number
            const auto it =
                std::upper_bound(byRow.begin(), byRow.end(), static_cast<std::uint32_t>(row),
                                 [](std::uint32_t r, const DeletedObject& o) { return r < o.row; });
            return it != byRow.begin() && std::prev(it)->row == row ? std::prev(it)->offset : 0;
        };

        // The .ID, entry by entry; every deleted object an entry points at is to come back.
        std::optional<BinaryFile> idIn;
        std::uint64_t idEntries = 0;
        if (!files.idIn.empty()) {
            idIn = fs.openRead(files.idIn);
            idEntries = idIn->size() / map::kIdEntrySize;
        }
        const std::uint64_t entries = rows.value_or(idEntries);
        std::optional<ChunkReader> idReader;
        if (idIn)
            idReader.emplace(*idIn);
        BinaryFile idOut = createFreshFile(files.idOut);
        AppendWriter idWriter(idOut, 0);
        std::vector<bool> revive(deleted.size());
        MapUndelete undelete;
        auto revivedRow = revivedRows.begin();
        for (std::uint64_t i = 0; i < entries; ++i) {
            const std::uint64_t row = i + 1;
            std::uint32_t entry = 0;
            if (i < idEntries)
                entry = readLE32(idReader->view(i * map::kIdEntrySize, map::kIdEntrySize), 0);
            if (entry == 0)
                entry = lastOfRow(row);
            if (entry != 0) {
                const std::size_t k = findAt(deleted, entry);
                if (k < deleted.size())
                    revive[k] = true;
            }
            while (revivedRow != revivedRows.end() && *revivedRow < row)
                ++revivedRow;
            if (entry == 0 && revivedRow != revivedRows.end() && *revivedRow == row)
                ++undelete.rowsWithoutGeometry;
            writeLE32(idWriter.appendInPlace(map::kIdEntrySize), 0, entry);
        }
        idWriter.flush();
        idOut.close();

        // Second walk: the copy, with the chosen objects live.
        BinaryFile mapOut = createFreshFile(files.mapOut);
        Revival revival(header, deleted, revive);
        map::walkBlocks(source, log, revival, {.copyTo = &mapOut});
        std::array<std::byte, 4> number{};
        const std::pair<std::size_t, map::GeoClass> counts[] = {
            {map::kPointCountOffset, map::GeoClass::Point},
            {map::kLineCountOffset, map::GeoClass::Line},
            {map::kAreaCountOffset, map::GeoClass::Area},
            {map::kTextCountOffset, map::GeoClass::Text},
        };
        for (const auto& [at, geoClass] : counts) {
            writeLE32(number, 0, static_cast<std::uint32_t>(revival.classCount(geoClass)));
            mapOut.writeAt(at, number);
        }
        map::writeSpatialIndex(mapOut, source.size(), revival.indexLeaves());
        mapOut.close();

        undelete.geometries = revival.revived();
        result = undelete;
    });
    return result;
}

} // namespace tabrescue
