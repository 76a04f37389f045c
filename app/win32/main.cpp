// zkfileexport.exe: the window on Windows.

#include <objbase.h>
#include <ole2.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "zk/engine/output/paths.hpp"
#include "zk/engine/platform.hpp"
#include "zk/ui_win32/main_window_win32.hpp"

namespace {

// The folder of the running program, from the program file itself.
std::filesystem::path programDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return std::filesystem::path(path).parent_path();
}

}  // namespace

int main(int argc, char** argv) {
    // The folder chooser and the dialogs' shell views need COM on this thread.
    OleInitialize(nullptr);
    const std::vector<std::string> arguments = zk::platform::commandLineArguments(argc, argv);
    // A recording named on the command line is loaded as a dropped file is, once the window is
    // up. A relative name is taken from the folder the program was started in (before the
    // window's start-up moves into the program's folder), and shown and remembered in full.
    std::string recording;
    if (!arguments.empty()) {
        const std::filesystem::path given = zk::pathOf(arguments.front());
        std::error_code error;
        std::filesystem::path path = std::filesystem::absolute(given, error);
        recording = zk::nameOf(error ? given : path.lexically_normal());
    }
    int code = 0;
    {
        zk::ui_win32::Win32MainWindow window(programDirectory());
        window.show(SW_SHOWNORMAL);
        if (!recording.empty()) {
            window.loadLater(recording);
        }
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (!window.preTranslate(message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        code = static_cast<int>(message.wParam);
    }
    OleUninitialize();
    return code;
}
