#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "choosers/dialog_backend.h"

namespace tabrescue {

inline constexpr int kErrCancelSelected = 32755;
inline constexpr int kErrFileNameBufferTooSmall = 20476;

// The input-file chooser: set the properties, call ShowOpen, read FileTitle and FileName back.
// The read/write properties are plain members under the names callers know; the results that only
// the dialog sets are read-only.
class CommonDlg
{
  public:
    explicit CommonDlg(FileOpenBackend& backend) : m_backend(backend) {}

    std::int32_t FileNameBufferSize = 20000;
    std::string DefaultExt;
    std::string DialogTitle;
    std::string FileName;
    std::string FileTitle;
    std::string Filter; // "description|patterns|description|patterns"
    std::int32_t FilterIndex = 0;
    std::string InitDir;
    std::uintptr_t hWndOwner = 0;
    std::uint32_t Flags = 0;
    std::uint32_t OpenFlags = 0;
    std::uint32_t CallBack = 0;
    bool CancelError = false;

    // Element 0 the folder, then the chosen names; empty until a confirmed call.
    const std::vector<std::string>& FileList() const { return m_fileList; }
    std::int32_t FileOffset() const { return m_fileOffset; }
    std::int32_t FileExtOffset() const { return m_fileExtOffset; }

    // Shows the modal file-open dialog and takes the user's choice into the properties. A cancel
    // returns quietly (CancelError false) or raises 32755; a too-small buffer raises 20476; another
    // dialog failure raises its extended error code. Errors are ChooserError from
    // "CommonDlg.ShowOpen"; the properties are unchanged after any of them.
    void ShowOpen();

    // The record ShowOpen hands to the dialog.
    OpenFileName buildRecord() const;

  private:
    void takeChoice(const OpenFileName& ofn);

    FileOpenBackend& m_backend;
    std::vector<std::string> m_fileList;
    std::int32_t m_fileOffset = 0;
    std::int32_t m_fileExtOffset = 0;
};

} // namespace tabrescue
