#include "app/win32_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include "choosers/win32_dialogs.h"
#include "io/win32_text.h"

namespace tabrescue {

using platform::narrow;
using platform::widen;

namespace {

const wchar_t* const kWindowClass = L"tabrescue.Form1";
const wchar_t* const kShortTitle = L"tabrescue";
constexpr int kFolderIconResource = 2;

// The window was drawn in twips; 1440 of them make an inch at any resolution.
constexpr int kTwipsPerInch = 1440;
constexpr int kClientWidthTwips = 10260;
constexpr int kClientHeightTwips = 6630;
constexpr int kMinClientWidth = 420, kMinClientHeight = 240; // pixels at 96 dots per inch

enum class Anchor { Fixed, Stretch, Right, Fill };

struct ControlPlace
{
    ControlId id;
    const wchar_t* windowClass;
    const wchar_t* caption;
    DWORD style;
    DWORD exStyle;
    int left, top, width, height; // twips, at the first size
    Anchor anchor;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
constexpr DWORD kPathBox = kChild | WS_TABSTOP | ES_AUTOHSCROLL;

// In tab order; the labels come last and so lie below the chooser buttons that overlap them.
const ControlPlace kControls[] = {
    {txtInFilePath, L"EDIT", L"", kPathBox, WS_EX_CLIENTEDGE, 30, 360, 10185, 345, Anchor::Stretch},
    {cmdSelectInTab, L"BUTTON", L"", kChild | WS_TABSTOP | BS_PUSHBUTTON | BS_ICON, 0, 9780, 30, 435, 345,
     Anchor::Right},
    {txtOutFolder, L"EDIT", L"", kPathBox, WS_EX_CLIENTEDGE, 30, 1080, 10185, 345, Anchor::Stretch},
    {Command1, L"BUTTON", L"", kChild | WS_TABSTOP | BS_PUSHBUTTON | BS_ICON, 0, 9780, 750, 435, 345,
     Anchor::Right},
    {chkRestoreAll, L"BUTTON", L"Restore/Fix All Records and Objects", kChild | WS_TABSTOP | BS_AUTOCHECKBOX,
     0, 90, 1500, 3735, 285, Anchor::Fixed},
    {cmdRecover, L"BUTTON", L"Recover...", kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 9150, 1440, 1065, 435,
     Anchor::Right},
    {txtLog, L"EDIT", L"",
     kChild | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL |
         ES_READONLY | ES_NOHIDESEL,
     WS_EX_CLIENTEDGE, 30, 1890, 10185, 4695, Anchor::Fill},
    // Out of the Tab chain, as on Linux: the other controls keep their Tab order.
    {cmdUndelete, L"BUTTON", L"Undelete...", kChild | BS_PUSHBUTTON, 0, 8025, 1440, 1065, 435, Anchor::Right},
    {Label1, L"STATIC", L"   Input Table to Recover", kChild | SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, 0, 0,
     30, 10185, 345, Anchor::Stretch},
    {Label2, L"STATIC", L"   Output Folder for Recovered Tables...",
     kChild | SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, 0, 0, 750, 10185, 345, Anchor::Stretch},
};

const wchar_t* const kRestoreAllTip = L"При установленном флаге, восстанавливаются все записи, не зависимо "
                                      L"от того есть ли удаленные записи или нет.";

// The chooser buttons carry pictures and Recover and the log the system's message font; the rest
// Tahoma 9 pt with Cyrillic letters.
bool takesTahoma(ControlId id)
{
    return id == txtInFilePath || id == txtOutFolder || id == chkRestoreAll || id == Label1 || id == Label2;
}

std::string windowText(HWND control)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return narrow(text);
}

std::string programFolder()
{
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return narrow(path.substr(0, path.find_last_of(L"\\/")));
}

unsigned dpiOf(HWND window)
{
    // GetDpiForWindow exists from Windows 10 on; older systems have one resolution for all screens.
    using DpiForWindow = UINT(WINAPI*)(HWND);
    // Through void (*)(), the one function type every other converts from without a warning.
    static const auto dpiForWindow = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (dpiForWindow) {
        if (const UINT dpi = dpiForWindow(window))
            return dpi;
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<unsigned>(dpi) : 96;
}

} // namespace

Win32Window::Win32Window(HINSTANCE instance)
    : m_files(std::make_unique<Win32FileOpenBackend>()),
      m_folders(std::make_unique<Win32FolderBrowserBackend>()),
      m_form(*this, *m_files, *m_folders, programFolder())
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc); // fails harmlessly when a second window registers it again

    m_logBrush = CreateSolidBrush(m_logColour);
    m_folderIcon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(kFolderIconResource), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass,
                    L"tabrescue \u2013 recover deleted rows and geometries of a MapInfo table",
                    WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                    CW_USEDEFAULT, nullptr, nullptr, instance, this);
    if (!m_window)
        return;
    m_dpi = dpiOf(m_window);
    makeFonts();
    createControls();
    RECT r{0, 0, MulDiv(kClientWidthTwips, static_cast<int>(m_dpi), kTwipsPerInch),
           MulDiv(kClientHeightTwips, static_cast<int>(m_dpi), kTwipsPerInch)};
    AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_CONTROLPARENT);
    SetWindowPos(m_window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
    placeControls();
}

Win32Window::~Win32Window()
{
    if (m_window)
        DestroyWindow(m_window);
    for (HGDIOBJ object :
         {static_cast<HGDIOBJ>(m_tahoma), static_cast<HGDIOBJ>(m_message), static_cast<HGDIOBJ>(m_logBrush)})
        if (object)
            DeleteObject(object);
    if (m_folderIcon)
        DestroyIcon(m_folderIcon);
}

void Win32Window::makeFonts()
{
    for (HFONT* font : {&m_tahoma, &m_message})
        if (*font)
            DeleteObject(*font);
    const int height = -MulDiv(9, static_cast<int>(m_dpi), 72);
    m_tahoma =
        CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, RUSSIAN_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    metrics.lfMessageFont.lfHeight = height;
    m_message = CreateFontIndirectW(&metrics.lfMessageFont);
}

void Win32Window::createControls()
{
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(m_window, GWLP_HINSTANCE));
    for (const ControlPlace& place : kControls) {
        HWND control = CreateWindowExW(place.exStyle, place.windowClass, place.caption, place.style, 0, 0, 0,
                                       0, m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(place.id)),
                                       instance, nullptr);
        SendMessageW(control, WM_SETFONT,
                     reinterpret_cast<WPARAM>(takesTahoma(place.id) ? m_tahoma : m_message), FALSE);
        if ((place.style & BS_ICON) && m_folderIcon)
            SendMessageW(control, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(m_folderIcon));
    }
    // The log grows past the 32767 characters an edit box takes by default.
    SendMessageW(control(txtLog), EM_SETLIMITTEXT, 0, 0);

    m_tooltip =
        CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr, instance, nullptr);
    if (m_tooltip) {
        TOOLINFOW tip{};
        tip.cbSize = TTTOOLINFOW_V2_SIZE;
        tip.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tip.hwnd = m_window;
        tip.uId = reinterpret_cast<UINT_PTR>(control(chkRestoreAll));
        tip.lpszText = const_cast<wchar_t*>(kRestoreAllTip);
        SendMessageW(m_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tip));
        SendMessageW(m_tooltip, TTM_SETMAXTIPWIDTH, 0, MulDiv(400, static_cast<int>(m_dpi), 96));
    }
}

void Win32Window::placeControls()
{
    RECT client{};
    GetClientRect(m_window, &client);
    const int dpi = static_cast<int>(m_dpi);
    auto px = [dpi](int twips) { return MulDiv(twips, dpi, kTwipsPerInch); };
    const int dx = client.right - px(kClientWidthTwips);
    const int dy = client.bottom - px(kClientHeightTwips);
    for (const ControlPlace& place : kControls) {
        int x = px(place.left), y = px(place.top), w = px(place.width), h = px(place.height);
        if (place.anchor == Anchor::Stretch || place.anchor == Anchor::Fill)
            w += dx;
        if (place.anchor == Anchor::Fill)
            h += dy;
        if (place.anchor == Anchor::Right)
            x += dx;
        MoveWindow(control(place.id), x, y, w, h, TRUE);
    }
}

LRESULT CALLBACK Win32Window::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->m_window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->m_window = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->onMessage(message, wParam, lParam);
}

LRESULT Win32Window::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto control = reinterpret_cast<HWND>(lParam);
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED)
            onCommand(LOWORD(wParam));
        return 0;
    case DM_GETDEFID:
        return MAKELRESULT(cmdRecover, DC_HASDEFID);
    case WM_SIZE:
        placeControls();
        return 0;
    case WM_GETMINMAXINFO: {
        RECT r{0, 0, MulDiv(kMinClientWidth, static_cast<int>(m_dpi), 96),
               MulDiv(kMinClientHeight, static_cast<int>(m_dpi), 96)};
        AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_CONTROLPARENT);
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {r.right - r.left, r.bottom - r.top};
        return 0;
    }
    case 0x02E0: { // WM_DPICHANGED: the window moved to a screen of another resolution
        m_dpi = HIWORD(wParam);
        makeFonts();
        for (const ControlPlace& place : kControls)
            SendMessageW(this->control(place.id), WM_SETFONT,
                         reinterpret_cast<WPARAM>(takesTahoma(place.id) ? m_tahoma : m_message), TRUE);
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(m_window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT: {
        const HDC dc = reinterpret_cast<HDC>(wParam);
        const int id = GetDlgCtrlID(control);
        if (id == Label1 || id == Label2) {
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            SetBkColor(dc, GetSysColor(COLOR_MENU));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_MENU));
        }
        if (id == txtInFilePath || id == txtOutFolder) {
            SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
            SetBkColor(dc, GetSysColor(COLOR_INFOBK));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_INFOBK));
        }
        if (id == txtLog) {
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            SetBkColor(dc, m_logColour);
            return reinterpret_cast<LRESULT>(m_logBrush);
        }
        break;
    }
    case WM_CLOSE:
        // A run yields to the window while it writes; the window goes when the run has ended.
        if (m_form.isRunning())
            m_closeAfterRun = true;
        else
            DestroyWindow(m_window);
        return 0;
    case WM_DESTROY:
        // Ends run()'s loop; a window that never ran one (a test's) leaves the queue alone.
        if (m_inLoop)
            PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}

void Win32Window::onCommand(int id)
{
    switch (id) {
    case cmdSelectInTab:
        m_form.chooseInputTable();
        break;
    case Command1:
        m_form.chooseOutputFolder();
        break;
    case cmdRecover:
        m_form.recover();
        break;
    case cmdUndelete:
        m_form.undelete();
        break;
    default:
        return;
    }
    if (m_closeAfterRun && !m_form.isRunning())
        DestroyWindow(m_window);
}

bool Win32Window::preTranslate(MSG& msg)
{
    if (!m_window || (msg.hwnd != m_window && !IsChild(m_window, msg.hwnd)))
        return false;
    // F1 whatever other keys are held, in whichever control has the focus.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_F1) {
        m_form.showHelp();
        return true;
    }
    return IsDialogMessageW(m_window, &msg) != FALSE;
}

int Win32Window::run()
{
    m_inLoop = true;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!preTranslate(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}

void Win32Window::processEvents()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam)); // for the loop that waits for it
            return;
        }
        if (!preTranslate(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

std::string Win32Window::inFilePath()
{
    return windowText(control(txtInFilePath));
}

void Win32Window::setInFilePath(const std::string& path)
{
    SetWindowTextW(control(txtInFilePath), widen(path).c_str());
}

std::string Win32Window::outFolder()
{
    return windowText(control(txtOutFolder));
}

void Win32Window::setOutFolder(const std::string& path)
{
    SetWindowTextW(control(txtOutFolder), widen(path).c_str());
}

CheckState Win32Window::restoreAll()
{
    switch (SendMessageW(control(chkRestoreAll), BM_GETCHECK, 0, 0)) {
    case BST_CHECKED:
        return CheckState::Ticked;
    case BST_INDETERMINATE:
        return CheckState::Greyed;
    default:
        return CheckState::Unticked;
    }
}

void Win32Window::showLog(std::string_view text, bool replaced)
{
    const HWND log = control(txtLog);
    const std::wstring wide = widen(text);
    if (replaced) {
        SetWindowTextW(log, wide.c_str());
        return;
    }
    const int end = GetWindowTextLengthW(log);
    SendMessageW(log, EM_SETSEL, end, end);
    SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
}

void Win32Window::moveLogCaretToEnd()
{
    const HWND log = control(txtLog);
    const int end = GetWindowTextLengthW(log);
    SendMessageW(log, EM_SETSEL, end, end);
    SendMessageW(log, EM_SCROLLCARET, 0, 0);
}

void Win32Window::setLogColour(std::uint32_t colour)
{
    // COLORREF is 0x00BBGGRR as the form's colours are.
    m_logColour = colour;
    if (m_logBrush)
        DeleteObject(m_logBrush);
    m_logBrush = CreateSolidBrush(colour);
    InvalidateRect(control(txtLog), nullptr, TRUE);
}

void Win32Window::showMessage(const std::string& text)
{
    if (m_messageSink) {
        m_messageSink(text);
        return;
    }
    MessageBoxW(m_window, widen(text).c_str(), kShortTitle, MB_OK | MB_ICONEXCLAMATION);
}

void Win32Window::beep()
{
    MessageBeep(MB_OK);
}

std::string Win32Window::now()
{
    wchar_t date[128] = L"", time[128] = L"";
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, 128);
    return narrow(date) + ' ' + narrow(time);
}

std::uintptr_t Win32Window::ownerHandle()
{
    return reinterpret_cast<std::uintptr_t>(m_window);
}

bool Win32Window::openDocument(const std::string& path)
{
    // The file's associated program, started by the shell without a command interpreter; the
    // program's folder is its working folder.
    const std::wstring file = widen(path);
    const std::wstring folder = file.substr(0, file.find_last_of(L"\\/"));
    const auto started = reinterpret_cast<INT_PTR>(
        ShellExecuteW(m_window, L"open", file.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL));
    return started > 32;
}

} // namespace tabrescue
