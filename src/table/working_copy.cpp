#include "table/working_copy.h"

#include <algorithm>
#include <array>
#include <vector>

#include "base/op_boundary.h"
#include "base/run_log.h"
#include "base/text_case.h"
#include "io/file_system.h"
#include "io/paths.h"
#include "io/platform.h"
#include "table/tab_text.h"

namespace tabrescue {

namespace {

// Errors of the open check and of the name maker are reported under the driver's name.
constexpr std::string_view kDriverOperation = "mapinfoTabRecover";
constexpr std::size_t kGuidBytes = 16;
constexpr std::size_t kTempNameDigits = 30;
constexpr int kMaxTakenNames = 100;
constexpr std::string_view kBackupSuffix = ".bak";
constexpr std::string_view kTabSuffix = ".tab";

RandomSource& randomSource()
{
    static RandomSource source;
    return source;
}

bool endsWithTab(const std::string& path)
{
    return path.size() > kTabSuffix.size() &&
           asciiLower(std::string_view(path).substr(path.size() - kTabSuffix.size())) == kTabSuffix;
}

std::span<const std::byte> bytesOf(std::string_view text)
{
    return std::as_bytes(std::span<const char>(text.data(), text.size()));
}

// How a component reaches its destination: as a copy of its own, or, for a table that is being
// moved, as a second name of the same file where the file system allows. The user's input is
// only ever copied; a moved result is never written again, so its leftover names in the
// temporary folder may share its bytes, and a large table is not written a second time.
enum class Data { Copied, SharedWhereTheSystemCan };

// Copies exactly the bytes the source holds when opened into a file created exclusively.
// `created` tells the caller whether a (possibly cut) target now exists that is ours.
bool copyComponent(FileSystem& fs, const std::string& src, const std::string& dst, Data data, bool& created)
{
    if (data == Data::SharedWhereTheSystemCan && fs.linkFile(src, dst)) {
        created = true;
        return fs.fileExists(dst);
    }
    BinaryFile in = fs.openRead(src);
    const std::uint64_t size = in.size();
    BinaryFile out = fs.createExclusive(dst);
    created = true;
    in.copyTo(out, size); // a source that shrank meanwhile shows in the size check below
    out.close();
    in.close();
    return fs.fileExists(dst) && fs.fileSize(dst) == fs.fileSize(src);
}

// A target that did not get the whole source is removed, so that nothing cut stays behind
// under a table's name; its predecessor is kept under the backup name.
void discard(FileSystem& fs, const std::string& path) noexcept
{
    try {
        fs.deleteFile(path);
    } catch (...) {
    }
}

} // namespace

std::optional<mapinfoTableFilesPull> openMiTable(const std::string& tabPath, RunLog* log)
{
    std::optional<mapinfoTableFilesPull> table;
    guarded(log, kDriverOperation, [&] {
        if (!fileSystem().fileExists(tabPath)) {
            LogStr_to_TxtBox(log, "File '" + tabPath + "' not exists or can't be opened.", "");
            return;
        }
        mapinfoTableFilesPull candidate;
        candidate.initByTABpath(tabPath);
        if (!candidate.TableName().empty())
            table = std::move(candidate);
    });
    return table;
}

std::string newGuidString()
{
    std::array<std::byte, kGuidBytes> bits{};
    try {
        if (randomSource())
            randomSource()(bits);
        else
            platform::randomBytes(bits);
    } catch (...) {
        return {};
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text = "{";
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        const auto b = std::to_integer<unsigned>(bits[i]);
        text += kHex[b >> 4];
        text += kHex[b & 0x0Fu];
    }
    text += '}';
    return text;
}

std::string newGuidHex()
{
    std::string text = newGuidString();
    std::erase_if(text, [](char c) {
        return c == '{' || c == '}' || c == '-' || c == '\r' || c == '\n' || c == '\0' || c == ' ';
    });
    return text;
}

std::string makeTempTabPath(RunLog* log)
{
    std::string path;
    guarded(log, kDriverOperation, [&] {
        FileSystem& fs = fileSystem();
        const std::string folder = fs.tempFolder();
        if (folder.empty())
            return;
        const std::string dir = withTrailingSeparator(folder);
        for (int taken = 0;;) {
            const std::string guid = newGuidHex();
            if (guid.size() < kTempNameDigits)
                throw RecoverError(kErrInvalidCall,
                                   "No unique identifier could be made for a temporary name");
            const std::string stem = dir + "~" + guid.substr(0, kTempNameDigits) + ".";
            const bool free =
                std::none_of(std::begin(kComponentExtensions), std::end(kComponentExtensions),
                             [&](std::string_view ext) { return fs.fileExists(stem + std::string(ext)); });
            if (free) {
                path = stem + "tab";
                return;
            }
            if (++taken == kMaxTakenNames)
                throw RecoverError(kErrPathAccess, "No free temporary table name in '" + folder + "' after " +
                                                       std::to_string(kMaxTakenNames) + " attempts");
        }
    });
    return path;
}

namespace {

std::string copyTable(const std::string& srcTab, const std::string& dstTab, RunLog* log, Data data)
{
    std::string result;
    guarded(log, "mapinfoTabCopy", [&] {
        FileSystem& fs = fileSystem();
        const auto source = openMiTable(srcTab, log);
        if (!source)
            return;
        if (!endsWithTab(dstTab))
            throw RecoverError(kErrInvalidCall, "Invalid procedure call or argument: '" + dstTab +
                                                    "' does not name a .TAB file");
        const std::string stem = dstTab.substr(0, dstTab.size() - 3); // keeps the point

        // The backup pass would otherwise move the source itself out of the way.
        for (std::string_view ext : kComponentExtensions) {
            const std::string target = fs.absolutePath(fs.resolve(stem + std::string(ext)));
            for (std::int32_t i = kTabIndex; i <= kIndIndex; ++i) {
                if (!source->ItemFullpath(i).empty() && source->ItemFullpath(i) == target)
                    throw RecoverError(kErrInvalidCall, "Invalid procedure call or argument: '" + dstTab +
                                                            "' is the source table itself");
            }
        }

        // Whatever the copy would overwrite, for every extension, goes to its own name + ".bak".
        for (std::string_view ext : kComponentExtensions) {
            const std::string target = fs.resolve(stem + std::string(ext));
            if (!fs.fileExists(target))
                continue;
            const std::string backup = target + std::string(kBackupSuffix);
            const std::string oldBackup = fs.resolve(backup);
            if (fs.fileExists(oldBackup)) {
                fs.deleteFile(oldBackup);
                LogStr_to_TxtBox(log, "File '" + oldBackup + "' was deleted.", "");
            }
            fs.moveFile(target, backup);
            LogStr_to_TxtBox(log, "File '" + target + "' was backuped as '" + fs.resolve(backup) + "'.", "");
        }

        // Destinations always carry the upper-case extensions, whatever the source's names on disk.
        for (std::int32_t i = kTabIndex; i <= kIndIndex; ++i) {
            const std::string from = source->ItemFullpath(i);
            if (from.empty())
                continue;
            const std::string target = stem + std::string(kComponentExtensions[static_cast<std::size_t>(i)]);
            const std::string failure = "Error in coping file '" + from + "' to file '" + target + "'.";
            bool created = false;
            bool copied = false;
            try {
                copied = copyComponent(fs, from, target, data, created);
            } catch (...) {
                if (created)
                    discard(fs, target);
                LogStr_to_TxtBox(log, failure, "");
                throw;
            }
            if (!copied) {
                if (created)
                    discard(fs, target);
                LogStr_to_TxtBox(log, failure, "");
                return;
            }
        }
        result = fs.resolve(dstTab);
    });
    return result;
}

} // namespace

std::string mapinfoTabCopy(const std::string& srcTab, const std::string& dstTab, RunLog* log)
{
    return copyTable(srcTab, dstTab, log, Data::Copied);
}

std::string mapinfoTabMove(const std::string& srcTab, const std::string& dstTab, RunLog* log)
{
    std::string result;
    guarded(log, "mapinfoTabMove", [&] {
        // Only a table that arrived whole counts as moved; otherwise the source stays complete.
        const std::string copied = copyTable(srcTab, dstTab, log, Data::SharedWhereTheSystemCan);
        if (copied.empty())
            return;
        fileSystem().deleteFile(srcTab);
        result = copied;
    });
    return result;
}

std::optional<mapinfoTableFilesPull> createTempMiTabCopy(const mapinfoTableFilesPull& table, bool dropIndex,
                                                         RunLog* log)
{
    std::optional<mapinfoTableFilesPull> work;
    guarded(log, "createTempMiTabCopy", [&] {
        FileSystem& fs = fileSystem();
        const std::string tmp = makeTempTabPath(log);
        if (tmp.empty())
            return;
        const std::string copied = mapinfoTabCopy(table.TABfullPath(), tmp, log);
        if (copied.empty())
            return;
        auto copy = openMiTable(copied, log);
        if (!copy)
            return;
        if (copy->INDfullpath().empty() || !dropIndex) {
            work = std::move(copy);
            return;
        }

        // The copy goes without its index, so its definition must no longer refer to one.
        const std::string tabPath = copy->TABfullPath();
        const std::string stripped = removeTabIndexes(fs.readAll(tabPath));
        if (stripped.empty())
            throw RecoverError(kErrInvalidCall,
                               "The table definition in '" + table.TABfullPath() + "' is not recognised");
        BinaryFile tab = createFreshFile(tabPath);
        tab.writeAt(0, bytesOf(stripped));
        tab.close();
        fs.deleteFile(copy->INDfullpath());
        copy->initByTABpath(tabPath);
        work = std::move(copy);
    });
    return work;
}

void setGuidRandomSource(RandomSource source)
{
    randomSource() = std::move(source);
}

} // namespace tabrescue
