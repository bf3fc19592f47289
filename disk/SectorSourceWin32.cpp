#include <windows.h>

#include "SectorSource.h"
#include "WideText.h"

namespace moravel {

namespace {

class FileSource final : public SectorSource {
public:
    explicit FileSource(HANDLE file) : m_file(file) {}
    ~FileSource() override { ::CloseHandle(m_file); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        std::size_t done = 0;
        while (done < buffer.size()) {
            LARGE_INTEGER position;
            position.QuadPart = static_cast<LONGLONG>(offset + done);
            if (!::SetFilePointerEx(m_file, position, nullptr, FILE_BEGIN)) {
                break;
            }
            const std::size_t left = buffer.size() - done;
            const DWORD asked = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
            DWORD got = 0;
            if (!::ReadFile(m_file, buffer.data() + done, asked, &got, nullptr) || got == 0) {
                break;
            }
            done += got;
        }
        return done;
    }

    std::optional<std::uint64_t> Size() const override {
        LARGE_INTEGER size;
        if (::GetFileSizeEx(m_file, &size)) {
            return static_cast<std::uint64_t>(size.QuadPart);
        }
        // A whole disk (\\.\PhysicalDriveN) has no file size: its geometry tells it.
        GET_LENGTH_INFORMATION length{};
        DWORD returned = 0;
        if (::DeviceIoControl(m_file, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                              sizeof length, &returned, nullptr)) {
            return static_cast<std::uint64_t>(length.Length.QuadPart);
        }
        return std::nullopt;
    }

private:
    HANDLE m_file;
};

}  // namespace

OpenedSource OpenFileSource(const std::string& path) {
    // Read-only, always: this program must never write to the recorder's disk. Others
    // may go on reading and writing it meanwhile, as they may on Linux.
    const std::wstring wide = WidePath(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Error{"Is a directory", Error::Weight::Stop};
    }
    const HANDLE file =
        ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Error{SystemMessage(::GetLastError()), Error::Weight::Stop};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        ::CloseHandle(file);
        return Error{"Is a directory", Error::Weight::Stop};
    }
    return std::make_unique<FileSource>(file);
}

}  // namespace moravel
