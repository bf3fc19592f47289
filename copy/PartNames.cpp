#include "PartNames.h"

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

std::string PartName(const NameParts& name, int part) {
    return name.base + "_" + std::to_string(part) + name.extension;
}

std::string FolderOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? "" : std::string(path.substr(0, slash + 1));
}

}  // namespace moravel
