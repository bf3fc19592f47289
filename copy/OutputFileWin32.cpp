#include <windows.h>

#include <algorithm>

#include "BatchPlan.h"
#include "CopyTarget.h"
#include "HeldOutputFile.h"
#include "PartNames.h"
#include "disk/WideText.h"

namespace moravel {

namespace {

// Seconds since 1601-01-01 (the FILETIME epoch) at the Unix epoch.
constexpr std::int64_t kEpochDifference = 11644473600;

FILETIME FileTimeOf(std::time_t seconds) {
    const auto ticks = static_cast<std::uint64_t>((seconds + kEpochDifference) * 10000000);
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

class Win32OutputFile final : public HeldOutputFile {
public:
    explicit Win32OutputFile(HANDLE file) : m_file(file) {}
    ~Win32OutputFile() override {
        if (m_file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(m_file);
        }
    }
    Win32OutputFile(const Win32OutputFile&) = delete;
    Win32OutputFile& operator=(const Win32OutputFile&) = delete;

    bool Sync() override {
        if (!Flush()) {
            return false;
        }
        // A device that keeps nothing (NUL) has nothing to flush.
        if (!::FlushFileBuffers(m_file) && ::GetLastError() != ERROR_INVALID_FUNCTION) {
            SetFailure(SystemMessage(::GetLastError()));
            return false;
        }
        return true;
    }

    bool Close() override {
        const bool flushed = Flush();
        const HANDLE file = m_file;
        m_file = INVALID_HANDLE_VALUE;
        if (!::CloseHandle(file)) {
            SetFailure(SystemMessage(::GetLastError()));
            return false;
        }
        return flushed;
    }

private:
    std::optional<std::size_t> WriteSome(std::span<const std::uint8_t> bytes,
                                         std::string& failure) override {
        DWORD wrote = 0;
        const auto asked = static_cast<DWORD>(bytes.size());
        if (!::WriteFile(m_file, bytes.data(), asked, &wrote, nullptr) || wrote == 0) {
            failure =
                SystemMessage(wrote == 0 && ::GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL
                                                                              : ::GetLastError());
            return std::nullopt;
        }
        return wrote;
    }

    HANDLE m_file;
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
                m_failure = SystemMessage(::GetLastError());
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

    bool Sync() override { return ::FlushFileBuffers(m_file) != 0; }

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
    std::string Failure() const override { return m_failure; }

private:
    HANDLE m_file;
    std::optional<std::time_t> m_modified;
    std::string m_failure;
};

}  // namespace

namespace {

// A device is written as it is, with no working name: NUL, \\.\...
bool IsDevice(const std::string& path) {
    const std::wstring wide = WidePath(path);
    const HANDLE file = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DWORD type = ::GetFileType(file);
    ::CloseHandle(file);
    return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Why a file could not be made in its folder: a folder that is missing is named.
std::string CreateFailure(const std::string& path, DWORD error) {
    if (error == ERROR_PATH_NOT_FOUND) {
        const std::string folder = FolderOf(path);
        if (!folder.empty() && !IsFolder(folder)) {
            return "the folder " + folder + " does not exist";
        }
    }
    if (error == ERROR_SHARING_VIOLATION) {
        return "another copy is writing " + path;
    }
    return SystemMessage(error);
}

struct FileId {
    DWORD volume = 0;
    DWORD high = 0;
    DWORD low = 0;
};

std::optional<FileId> IdOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) {
        return std::nullopt;
    }
    return FileId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// Opens path to write; nobody else may write it while the handle is open (it
// may be read, and renamed by this program).
HANDLE OpenToWrite(const std::string& path, DWORD disposition) {
    return ::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                         nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

// A file this target writes, held open by a handle of its own: no other program
// can open it to write until it is published, discarded or released.
class FileSystemTarget::Claim {
public:
    explicit Claim(HANDLE file) {
        ::DuplicateHandle(::GetCurrentProcess(), file, ::GetCurrentProcess(), &m_file, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
    }
    ~Claim() {
        if (m_file != nullptr && m_file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(m_file);
        }
    }
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

    // Whether path still names the file that was written.
    bool At(const std::string& path) const {
        const HANDLE named = ::CreateFileW(
            WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (named == INVALID_HANDLE_VALUE) {
            return false;
        }
        const std::optional<FileId> there = IdOf(named);
        ::CloseHandle(named);
        const std::optional<FileId> held = IdOf(m_file);
        return there && held && there->volume == held->volume && there->high == held->high &&
               there->low == held->low;
    }
    void KeepModified(std::time_t when) const {
        const FILETIME time = FileTimeOf(when);
        ::SetFileTime(m_file, nullptr, nullptr, &time);
    }

private:
    HANDLE m_file = nullptr;
};

FileSystemTarget::FileSystemTarget() = default;
FileSystemTarget::~FileSystemTarget() = default;

bool WrittenInPlace(const std::string& path) {
    return IsDevice(path);
}

Result<std::unique_ptr<PositionedFile>> FileSystemTarget::OpenPositioned(const std::string& path) {
    m_claims.erase(path);  // this target's own earlier run over it
    const HANDLE file = OpenToWrite(path, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        return Error{CreateFailure(path, ::GetLastError())};
    }
    m_claims[path] = std::make_unique<Claim>(file);
    return std::make_unique<Win32PositionedFile>(file);
}

Result<std::unique_ptr<OutputFile>> FileSystemTarget::Create(const std::string& path) {
    if (IsFolder(path)) {
        return Error{"it is a folder"};
    }
    if (IsDevice(path)) {
        const HANDLE file = ::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return Error{SystemMessage(::GetLastError())};
        }
        return std::make_unique<Win32OutputFile>(file);
    }
    const std::string working = WorkingPath(path);
    m_claims.erase(working);  // this target's own earlier copy to it
    // Others may read the copy meanwhile, not write it.
    const HANDLE file = OpenToWrite(working, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        return Error{CreateFailure(working, ::GetLastError())};
    }
    m_claims[working] = std::make_unique<Claim>(file);
    return std::make_unique<Win32OutputFile>(file);
}

Failure FileSystemTarget::Publish(const std::string& path, std::optional<std::time_t> modified) {
    const std::string working = WorkingPath(path);
    const auto claim = m_claims.find(working);
    if (claim == m_claims.end() && IsDevice(path)) {
        return std::nullopt;
    }
    if (claim != m_claims.end() && !claim->second->At(working)) {
        return Error{working + " is not the file this copy wrote any more"};
    }
    if (IsFolder(path) || IsDevice(path)) {
        return Error{path + " is no regular file"};
    }
    if (modified && claim != m_claims.end()) {
        // The recording's own date, as the recorder wrote it; a file system that
        // cannot keep it leaves the time of the copy.
        claim->second->KeepModified(*modified);
    }
    // Written through: the new name is on the device when the call returns. The
    // handle held lets the file be renamed (it shares deleting), no one write it.
    const bool moved = ::MoveFileExW(WidePath(working).c_str(), WidePath(path).c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    const DWORD error = ::GetLastError();
    if (claim != m_claims.end()) {
        m_claims.erase(claim);
    }
    if (!moved) {
        return Error{SystemMessage(error)};
    }
    return std::nullopt;
}

void FileSystemTarget::Discard(const std::string& path) {
    const std::string working = WorkingPath(path);
    const auto claim = m_claims.find(working);
    if (claim == m_claims.end()) {
        return;
    }
    // Only what this copy wrote: another's file of that name stays.
    const bool ours = claim->second->At(working);
    m_claims.erase(claim);
    if (ours) {
        ::DeleteFileW(WidePath(working).c_str());
    }
}

void FileSystemTarget::Release(const std::string& path) {
    m_claims.erase(path);
    m_claims.erase(WorkingPath(path));
}

void SetFolderModified(const std::filesystem::path& path, std::time_t seconds) {
    const HANDLE folder = ::CreateFileW(
        path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        return;
    }
    const FILETIME time = FileTimeOf(seconds);
    ::SetFileTime(folder, nullptr, nullptr, &time);
    ::CloseHandle(folder);
}

}  // namespace moravel
