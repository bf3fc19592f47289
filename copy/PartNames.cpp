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
    return NameWithin(name.base, "_" + std::to_string(part) + name.extension);
}

namespace {

// An extension longer than this is taken as part of the name: a name is cut
// only in its stem, and a cut must leave room for the stem.
constexpr std::size_t kLongestExtension = 16;
// "~" and the hash's eight digits.
constexpr std::size_t kTagLength = 9;

// The bytes of the UTF-8 sequence that begins with this byte.
std::size_t SequenceLength(unsigned char lead) {
    return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// What a character of that many UTF-8 bytes counts for in a file name's length.
std::size_t LengthOf(std::size_t utf8Bytes) {
#ifdef _WIN32
    return utf8Bytes == 4 ? 2 : 1;  // UTF-16 units
#else
    return utf8Bytes;
#endif
}

// FNV-1a: a short, stable hash of the name that was cut.
std::string HashTag(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string tag = "~";
    for (int shift = 28; shift >= 0; shift -= 4) {
        tag += kDigits[(hash >> shift) & 0xF];
    }
    return tag;
}

// As much of text from its start as fits length, whole characters only.
std::string_view CutToLength(std::string_view text, std::size_t length) {
    std::size_t used = 0;
    std::size_t end = 0;
    while (end < text.size()) {
        const std::size_t bytes =
            std::min(SequenceLength(static_cast<unsigned char>(text[end])), text.size() - end);
        if (used + LengthOf(bytes) > length) {
            break;
        }
        used += LengthOf(bytes);
        end += bytes;
    }
    return text.substr(0, end);
}

}  // namespace

std::size_t FileNameLength(std::string_view name) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t bytes =
            std::min(SequenceLength(static_cast<unsigned char>(name[i])), name.size() - i);
        length += LengthOf(bytes);
        i += bytes;
    }
    return length;
}

std::string NameWithin(std::string_view stem, std::string_view tail) {
    const std::size_t tailLength = FileNameLength(tail);
    if (FileNameLength(stem) + tailLength <= kFileNameLimit) {
        return std::string(stem) + std::string(tail);
    }
    const std::size_t room =
        kFileNameLimit > tailLength + kTagLength ? kFileNameLimit - tailLength - kTagLength : 0;
    return std::string(CutToLength(stem, room)) + HashTag(stem) + std::string(tail);
}

std::string FitFileName(std::string_view name, std::string_view suffix) {
    const NameParts parts = SplitFileName(name);
    if (parts.base.empty() || parts.extension.size() > kLongestExtension) {
        return NameWithin(name, suffix);
    }
    return NameWithin(parts.base, parts.extension + std::string(suffix));
}

std::string FitFileName(std::string_view name) {
    return FitFileName(name, "");
}

std::string PathWithSuffix(std::string_view path, std::string_view suffix) {
    const std::string folder = FolderOf(path);
    return folder + FitFileName(path.substr(folder.size()), suffix);
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
