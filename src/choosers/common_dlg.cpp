#include "choosers/common_dlg.h"

#include "choosers/chooser_error.h"

namespace tabrescue {

namespace {

constexpr std::size_t kCustomFilterSize = 40;
constexpr std::size_t kTitleBufferSize = 1024;
constexpr const char* kSource = "CommonDlg.ShowOpen";

std::string trimBlanks(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

OpenFileName CommonDlg::buildRecord() const
{
    const std::string firstName = upToNul(FileName);
    // The dialog writes into a buffer of this size; a size that cannot hold the first name and its
    // NUL would hand it an unterminated text.
    if (FileNameBufferSize < 1 || firstName.size() >= static_cast<std::size_t>(FileNameBufferSize))
        throw ChooserError(kErrInvalidCall, "Invalid procedure call or argument", kSource);

    OpenFileName ofn;
    ofn.owner = hWndOwner;
    ofn.filter = trimBlanks(Filter);
    for (char& c : ofn.filter)
        if (c == '|')
            c = '\0';
    ofn.filter.push_back('\0');
    ofn.customFilter.assign(kCustomFilterSize, '\0');
    ofn.filterIndex = FilterIndex;
    ofn.file = firstName;
    ofn.file.resize(static_cast<std::size_t>(FileNameBufferSize), '\0');
    ofn.fileTitle.assign(kTitleBufferSize, '\0');
    ofn.initialDir = InitDir;
    ofn.title = DialogTitle;
    ofn.defaultExt = DefaultExt;
    ofn.flags = OpenFlags | Flags | kOfnExplorer;
    if (ofn.flags & kOfnEnableHook)
        ofn.hook = CallBack;
    return ofn;
}

void CommonDlg::ShowOpen()
{
    OpenFileName ofn = buildRecord();
    if (m_backend.getOpenFileName(ofn)) {
        takeChoice(ofn);
        return;
    }
    const std::uint32_t code = m_backend.extendedError();
    if (code == kDlgCancelled) {
        if (CancelError)
            throw ChooserError(kErrCancelSelected, "Cancel was selected.", kSource);
        return;
    }
    if (code == kDlgBufferTooSmall)
        throw ChooserError(kErrFileNameBufferTooSmall, "Filename buffer is too small for the selected files.",
                           kSource);
    throw ChooserError(static_cast<int>(code), "Unexpected error.", kSource);
}

void CommonDlg::takeChoice(const OpenFileName& ofn)
{
    const std::string& buffer = ofn.file;
    // The buffer's padding is no part of the answer: a multiple choice ends at its NUL pair.
    std::string answer = buffer.substr(0, buffer.find(std::string("\0\0", 2)));
    while (!answer.empty() && answer.back() == '\0')
        answer.pop_back();
    FileName = answer;
    FileTitle = upToNul(ofn.fileTitle);
    FilterIndex = ofn.filterIndex;
    Flags = ofn.flags;
    OpenFlags = ofn.flags;
    m_fileOffset = static_cast<std::int16_t>(ofn.fileOffset);
    m_fileExtOffset = static_cast<std::int16_t>(ofn.fileExtension);
    m_fileList.clear();

    const auto offset = static_cast<std::size_t>(m_fileOffset);
    if (m_fileOffset <= 0 || offset > answer.size())
        return;
    if (answer[offset - 1] != '\0') {
        // One file: the folder without its final separator, and the name.
        m_fileList.push_back(answer.substr(0, offset - 1));
        m_fileList.push_back(upToNul(answer.substr(offset)));
        FileName = upToNul(answer);
        return;
    }
    // Several files: folder NUL name NUL name ...
    std::size_t start = 0;
    while (true) {
        const std::size_t end = answer.find('\0', start);
        m_fileList.push_back(
            answer.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
}

} // namespace tabrescue
