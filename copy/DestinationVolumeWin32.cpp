#include <windows.h>

#include <vector>

#include "DestinationVolume.h"
#include "VolumeRootWin32.h"
#include "disk/WideText.h"

namespace moravel {

namespace {

// The folder a destination names: the path itself when it is a folder, else the
// folder of the file it names, which has to exist.
std::optional<std::wstring> DestinationFolder(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    const std::wstring wide = WidePath(path);
    std::vector<wchar_t> full(32768);
    wchar_t* name = nullptr;
    const DWORD length =
        ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), &name);
    if (length == 0 || length >= full.size()) {
        return std::nullopt;
    }
    std::wstring folder(full.data(), length);
    DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return folder;
    }
    const std::size_t slash = folder.find_last_of(L"\\/");
    if (slash == std::wstring::npos) {
        return std::nullopt;
    }
    folder.resize(slash + 1);
    attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return std::nullopt;
    }
    return folder;
}

}  // namespace

std::optional<std::wstring> VolumeRootOf(const std::string& path) {
    const std::optional<std::wstring> folder = DestinationFolder(path);
    if (!folder) {
        return std::nullopt;
    }
    std::vector<wchar_t> root(folder->size() + 2);
    if (!::GetVolumePathNameW(folder->c_str(), root.data(), static_cast<DWORD>(root.size()))) {
        return std::nullopt;
    }
    return std::wstring(root.data());
}

// The volume by its root (C:\, a mounted folder, \\server\share\) and the file system
// Windows names for it: "FAT" (FAT12 or FAT16: Windows does not tell which; both are
// refused alike), "FAT32", "NTFS", "exFAT", ... Nothing when the folder does not exist
// or the volume cannot be asked, as on Linux when the mount table cannot be read.
std::optional<DestinationVolume> FindDestinationVolume(const std::string& path) {
    const std::optional<std::wstring> root = VolumeRootOf(path);
    if (!root) {
        return std::nullopt;
    }
    wchar_t fileSystem[MAX_PATH + 1] = {};
    if (!::GetVolumeInformationW(root->c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                                 MAX_PATH + 1)) {
        return std::nullopt;
    }
    return DestinationVolume{NarrowText(*root), NarrowText(fileSystem)};
}

}  // namespace moravel
