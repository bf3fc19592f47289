#include "PartNames.h"

#include <algorithm>

#include "disk/PathText.h"

namespace moravel {

bool IsRefusedFileSystem(std::string_view fileSystem) {
    return fileSystem == "FAT" || fileSystem == "FAT12" || fileSystem == "FAT16";
}

bool NeedsParts(std::string_view fileSystem, std::uint64_t fileSize) {
    return fileSystem == "FAT32" && fileSize >= (std::uint64_t{1} << 32);
}

NameParts SplitFileName(std::string_view fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos) {
        return {std::string(fileName), ""};
    }
    return {std::string(fileName.substr(0, dot)), std::string(fileName.substr(dot))};
}

std::vector<std::uint64_t> PartStarts(std::uint64_t size, std::uint64_t clusterBytes, bool split) {
    std::vector<std::uint64_t> starts{0};
    if (!split || clusterBytes == 0 || clusterBytes > kPartLimit) {
        return starts;
    }
    const std::uint64_t whole = kPartLimit / clusterBytes * clusterBytes;
    for (std::uint64_t next = whole; next < size; next += whole) {
        // Only the file's last cluster can be short enough to stay.
        if (whole + (size - next) <= kPartLimit) {
            break;
        }
        starts.push_back(next);
    }
    return starts;
}

std::string PartName(const NameParts& name, int part) {
    return name.base + "_" + std::to_string(part) + name.extension;
}

std::string SafeFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return std::string(std::max<std::size_t>(name.size(), 1), '_');
    }
    std::string safe;
    safe.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const bool c1 = byte == 0xC2 && i + 1 < name.size() &&
                        static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(name[i + 1]) <= 0x9F;
        if (c1) {
            ++i;
        }
        safe += c1 || byte < 0x20 || byte == 0x7F || byte == '/' ? '_' : name[i];
    }
    return safe;
}

std::string FolderOf(std::string_view path) {
    // The system's own rule for where a name begins ('\\' separates folders on
    // Windows as well).
    const std::string name = Utf8FromPath(PathFromUtf8(path).filename());
    return std::string(path.substr(0, path.size() - name.size()));
}

std::string NumberedName(const std::string& name, int n) {
    const auto dot = name.rfind('.');
    const bool extension = dot != std::string::npos && dot > 0;
    return name.substr(0, extension ? dot : name.size()) + " (" + std::to_string(n) + ")" +
           (extension ? name.substr(dot) : "");
}

}  // namespace moravel
