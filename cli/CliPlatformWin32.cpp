#include <io.h>
#include <windows.h>

#include <cstdio>

#include "CliPlatform.h"

namespace moravel::cli {

void StartTextAgent() {}

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

// Seconds since 1601-01-01 (the FILETIME epoch) at the Unix epoch.
constexpr std::int64_t kEpochDifference = 11644473600;

// The first Ctrl-C is taken; the next one goes on to the system's handler, which
// ends the program.
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT || g_interrupted != 0) {
        return FALSE;
    }
    g_interrupted = 1;
    return TRUE;
}

}  // namespace

struct InterruptWatch::Previous {};

InterruptWatch::InterruptWatch(bool active) : m_active(active) {
    if (!m_active) {
        return;
    }
    g_interrupted = 0;
    m_active = ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

InterruptWatch::~InterruptWatch() {
    if (m_active) {
        ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    }
}

bool StderrIsTerminal() {
    return ::_isatty(::_fileno(stderr)) != 0;
}

void SetFolderModified(const std::filesystem::path& path, std::time_t seconds) {
    const HANDLE folder = ::CreateFileW(
        path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        return;
    }
    const auto ticks = static_cast<std::uint64_t>((seconds + kEpochDifference) * 10000000);
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    ::SetFileTime(folder, nullptr, nullptr, &time);
    ::CloseHandle(folder);
}

}  // namespace moravel::cli
