#pragma once

#include <string>

#include "base/recover_error.h"

namespace tabrescue {

// An error raised by a chooser: number and description as every error, plus the source that raised
// it ("CommonDlg.ShowOpen", "ShellBrowse.BrowseForFolder").
class ChooserError : public RecoverError
{
  public:
    ChooserError(int number, std::string description, std::string source)
        : RecoverError(number, std::move(description)), m_source(std::move(source))
    {
    }
    const std::string& source() const noexcept { return m_source; }

  private:
    std::string m_source;
};

} // namespace tabrescue
