// moravel.exe: the window on Windows.
//
//   moravel [--disk PATH]... [--floppy PATH]... [--bios-services] [IMAGE]...

// windows.h first: the others build on its types.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "Win32Frontend.h"
#include "disk/WideText.h"
#include "res/Resources.h"
#include "ui/MainDialog.h"
#include "ui/SourceOptions.h"

namespace {

constexpr char kProgram[] = "moravel";

// The arguments as UTF-8, whatever the ANSI code page.
std::vector<std::string> Arguments() {
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; arguments != nullptr && i < count; ++i) {
        args.push_back(moravel::NarrowText(arguments[i]));
    }
    ::LocalFree(arguments);
    return args;
}

// A window program has no console of its own: what --help, --version or a
// usage error say goes to the output it was given (redirected, or the console
// it was started from), or else into a message box.
void Say(const std::string& text, bool error) {
    HANDLE output = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) {
        if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
            output = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
        }
    }
    DWORD written = 0;
    if (output != nullptr && output != INVALID_HANDLE_VALUE &&
        ::WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return;
    }
    ::MessageBoxW(nullptr, moravel::WidePath(text).c_str(),
                  moravel::WidePath(moravel::ApplicationTitle()).c_str(),
                  static_cast<UINT>(MB_OK | (error ? MB_ICONEXCLAMATION : MB_ICONINFORMATION)));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const moravel::WindowCommandLine line = moravel::ParseWindowCommandLine(Arguments());
    if (!line.error.empty()) {
        Say(std::string(kProgram) + ": ERROR: " + line.error + "\nTry '" + kProgram +
                " --help' for more information.\n",
            true);
        return 2;
    }
    if (line.help) {
        Say(moravel::WindowUsageText(), false);
        return 0;
    }
    if (line.version) {
        Say(std::string(kProgram) + " " + std::string(moravel::res::kProgramVersion) + "\n", false);
        return 0;
    }

    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES |
                                                        ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    // The Save and Open dialogs of the shell want a single-threaded apartment.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    moravel::win32::Win32Frontend frontend(instance);
    moravel::MainDialog dialog(frontend, moravel::AccessOptionsFor(line.sources), nullptr,
                               line.images);
    frontend.RunMainDialog(dialog);

    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return 0;
}
