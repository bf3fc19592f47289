#include <windows.h>

#include <algorithm>

#include "CopyTarget.h"
#include "disk/WideText.h"

namespace moravel {

namespace {

// Writes go to the system in pieces of up to 256 KiB, as on Linux: bytes that
// follow the held ones in the caller's memory (the clusters of one read) join
// them uncopied.
constexpr std::size_t kWriteBehind = 256 * 1024;

// Seconds since 1601-01-01 (the FILETIME epoch) at the Unix epoch.
constexpr std::int64_t kEpochDifference = 11644473600;

FILETIME FileTimeOf(std::time_t seconds) {
    const auto ticks = static_cast<std::uint64_t>((seconds + kEpochDifference) * 10000000);
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

class Win32OutputFile final : public OutputFile {
public:
    explicit Win32OutputFile(HANDLE file) : m_file(file) {}
    ~Win32OutputFile() override {
        if (m_file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(m_file);
        }
    }
    Win32OutputFile(const Win32OutputFile&) = delete;
    Win32OutputFile& operator=(const Win32OutputFile&) = delete;

    bool Write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        written = 0;
        const bool joins = !m_held.empty() && bytes.data() == m_held.data() + m_held.size() &&
                           m_held.size() + bytes.size() <= kWriteBehind;
        if (joins) {
            m_held = {m_held.data(), m_held.size() + bytes.size()};
        } else {
            if (!Flush()) {
                return false;
            }
            m_held = bytes;
        }
        written = bytes.size();
        return true;
    }

    bool Flush() override {
        std::size_t done = 0;
        while (done < m_held.size()) {
            DWORD wrote = 0;
            const DWORD asked = static_cast<DWORD>(m_held.size() - done);
            if (!::WriteFile(m_file, m_held.data() + done, asked, &wrote, nullptr) || wrote == 0) {
                m_held = {};
                return false;
            }
            done += wrote;
        }
        m_held = {};
        return true;
    }

    bool Close() override {
        const bool flushed = Flush();
        if (m_modified) {
            // The recording's own date, as the recorder wrote it; a file system
            // that cannot keep it leaves the time of the copy.
            const FILETIME time = FileTimeOf(*m_modified);
            ::SetFileTime(m_file, nullptr, nullptr, &time);
        }
        const HANDLE file = m_file;
        m_file = INVALID_HANDLE_VALUE;
        return ::CloseHandle(file) != 0 && flushed;
    }

    void KeepModified(std::time_t when) override { m_modified = when; }

private:
    HANDLE m_file;
    std::span<const std::uint8_t> m_held;
    std::optional<std::time_t> m_modified;
};

class Win32PositionedFile final : public PositionedFile {
public:
    explicit Win32PositionedFile(HANDLE file) : m_file(file) {}
    ~Win32PositionedFile() override {
        if (m_file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(m_file);
        }
    }
    Win32PositionedFile(const Win32PositionedFile&) = delete;
    Win32PositionedFile& operator=(const Win32PositionedFile&) = delete;

    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            OVERLAPPED at{};
            const std::uint64_t where = offset + done;
            at.Offset = static_cast<DWORD>(where & 0xFFFFFFFFu);
            at.OffsetHigh = static_cast<DWORD>(where >> 32);
            const DWORD asked =
                static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
            DWORD wrote = 0;
            if (!::WriteFile(m_file, bytes.data() + done, asked, &wrote, &at) || wrote == 0) {
                return false;
            }
            done += wrote;
        }
        return true;
    }

    bool SetSize(std::uint64_t size) override {
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
        return ::SetFileInformationByHandle(m_file, FileEndOfFileInfo, &end, sizeof end) != 0;
    }

    bool Close() override {
        if (m_modified) {
            const FILETIME time = FileTimeOf(*m_modified);
            ::SetFileTime(m_file, nullptr, nullptr, &time);
        }
        const HANDLE file = m_file;
        m_file = INVALID_HANDLE_VALUE;
        return ::CloseHandle(file) != 0;
    }

    void KeepModified(std::time_t when) override { m_modified = when; }

private:
    HANDLE m_file;
    std::optional<std::time_t> m_modified;
};

}  // namespace

std::unique_ptr<PositionedFile> FileSystemTarget::OpenPositioned(const std::string& path,
                                                                 std::string& reason) {
    const HANDLE file = ::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = SystemMessage(::GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32PositionedFile>(file);
}

std::unique_ptr<OutputFile> FileSystemTarget::Create(const std::string& path, std::string& reason) {
    // Others may read the copy meanwhile, not write it.
    const HANDLE file = ::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = SystemMessage(::GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32OutputFile>(file);
}

}  // namespace moravel
