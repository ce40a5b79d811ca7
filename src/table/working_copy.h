#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "table/table_files.h"

namespace tabrescue {

class BinaryFile;
class RunLog;

// The table set up from tabPath, or none (a missing file is logged, an unusable group is not).
std::optional<mapinfoTableFilesPull> openMiTable(const std::string& tabPath, RunLog* log);
// A fresh GUID in registry form with braces (128 random bits), or empty when no random bits came.
std::string newGuidString();
// 32 upper-case hexadecimal digits, or empty.
std::string newGuidHex();
// A temporary table path none of whose five components exists yet, or empty.
std::string makeTempTabPath(RunLog* log);
// dstTab (as it exists on disk) when every component was copied, else empty.
std::string mapinfoTabCopy(const std::string& srcTab, const std::string& dstTab, RunLog* log);
// dstTab (as it exists on disk) when the whole table arrived and the source .TAB was deleted.
std::string mapinfoTabMove(const std::string& srcTab, const std::string& dstTab, RunLog* log);
// The working copy in the temporary folder, or none.
std::optional<mapinfoTableFilesPull> createTempMiTabCopy(const mapinfoTableFilesPull& table, bool dropIndex,
                                                         RunLog* log);

// Where GUIDs get their random bits; tests install a fixed source, nullptr restores the system's.
using RandomSource = std::function<void(std::span<std::byte>)>;
void setGuidRandomSource(RandomSource source);

} // namespace tabrescue
