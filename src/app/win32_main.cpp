// The window program on Windows. Optional arguments fill the path boxes: TABLE.TAB [OUTPUT_FOLDER].
#include "app/win32_window.h"

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include "io/win32_text.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    // The folder browser's new style needs OLE on this thread.
    const HRESULT ole = OleInitialize(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    int code = 1;
    {
        tabrescue::Win32Window window(instance);
        if (window.handle()) {
            int argc = 0;
            if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
                if (argc > 1)
                    window.setInFilePath(tabrescue::platform::narrow(argv[1]));
                if (argc > 2)
                    window.setOutFolder(tabrescue::platform::narrow(argv[2]));
                LocalFree(argv);
            }
            ShowWindow(window.handle(), show);
            code = window.run();
        }
    }
    if (SUCCEEDED(ole))
        OleUninitialize();
    return code;
}
