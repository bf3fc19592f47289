#include "CopyTarget.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <utility>

#include "PartNames.h"
#include "disk/PathText.h"
#include "disk/WideText.h"

namespace moravel {

std::string WorkingPath(const std::string& path) {
    return PathWithSuffix(path, ".part");
}

std::optional<DestinationVolume> FileSystemTarget::VolumeOf(const std::string& path) {
    return FindDestinationVolume(path);
}

namespace {

// The path as the system takes it: on Windows also beyond MAX_PATH (WidePath).
std::filesystem::path SystemPath(const std::string& path) {
#ifdef _WIN32
    return std::filesystem::path(WidePath(path));
#else
    return PathFromUtf8(path);
#endif
}

}  // namespace

bool FileSystemTarget::Exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(SystemPath(path), error);
}

Result<std::uint64_t> FileSystemTarget::SizeOf(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(SystemPath(path), error);
    if (error) {
        return Error{error.message()};
    }
    return std::uint64_t{size};
}

Result<std::string> FileSystemTarget::ReadAll(const std::string& path) {
    std::ifstream in(SystemPath(path), std::ios::binary);
    if (!in.is_open()) {
        return Error{"it cannot be opened"};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<DestinationVolume> PartsAlways::VolumeOf(const std::string& path) {
    DestinationVolume volume = m_inner.VolumeOf(path).value_or(DestinationVolume{});
    if (!IsRefusedFileSystem(volume.fileSystem) && volume.fileSystem != "FAT32") {
        volume.fileSystem = "FAT32";
        volume.partsAsked = true;
    }
    return volume;
}

SourceGuard::SourceGuard(CopyTarget& inner, const std::vector<std::string>& diskPaths,
                         BlockDeviceTables tables)
    : m_inner(inner), m_tables(std::move(tables)) {
    m_sources = IdentifySourceDisks(diskPaths, m_tables);
    for (const std::string& path : diskPaths) {
        if (std::optional<ExaminedFile> file = ExamineFile(path)) {
            m_disks.push_back(file->identity);
        }
    }
}

std::optional<std::string> SourceGuard::Refusal(const std::string& given) const {
    // Folders are followed from the path's own: a bare name lies in the current one.
    std::error_code unresolved;
    const std::filesystem::path whole = std::filesystem::absolute(PathFromUtf8(given), unresolved);
    const std::string path = unresolved ? given : Utf8FromPath(whole);
    if (std::optional<ExaminedFile> file = ExamineFile(path)) {
        const auto same = [&](const FileIdentity& id) {
            return id.device == file->identity.device && id.inode == file->identity.inode;
        };
        if (std::any_of(m_disks.begin(), m_disks.end(), same)) {
            return "it is a disk being read";
        }
        if (std::any_of(m_sources.images.begin(), m_sources.images.end(), same)) {
            return "a disk being read is read from it";
        }
        if (file->blockDevice) {
            return "it is a block device";
        }
    }
    return SourceRefusal(path, m_sources, m_tables);
}

Result<std::unique_ptr<OutputFile>> SourceGuard::Create(const std::string& path) {
    // The final name is checked now, before anything is written: the copy would
    // end by putting itself in that file's place.
    for (const std::string& name : {path, WorkingPath(path)}) {
        if (std::optional<std::string> refusal = Refusal(name)) {
            return Error{std::move(*refusal)};
        }
    }
    return m_inner.Create(path);
}

Result<std::unique_ptr<PositionedFile>> SourceGuard::OpenPositioned(const std::string& path) {
    if (std::optional<std::string> refusal = Refusal(path)) {
        return Error{std::move(*refusal)};
    }
    return m_inner.OpenPositioned(path);
}

Failure WriteWholeFile(CopyTarget& target, const std::string& path,
                       std::span<const std::uint8_t> bytes) {
    Result<std::unique_ptr<OutputFile>> created = target.Create(path);
    if (!created) {
        return Error{path + ": " + created.error().reason};
    }
    OutputFile& file = **created;
    std::size_t written = 0;
    const bool synced = file.Write(bytes, written) && file.Sync();
    const bool closed = file.Close();
    std::optional<Error> failure;
    const std::string working = WrittenInPlace(path) ? path : WorkingPath(path);
    if (!synced || !closed) {
        // Half a file is worth nothing here: it goes.
        target.Discard(path);
        failure = Error{working + ": " + file.Failure() +
                        (target.Exists(working) ? "; it is left there" : "; nothing was kept")};
    } else if (const Failure published = target.Publish(path, std::nullopt)) {
        failure = Error{working + " could not be renamed to " + path + ": " + published->reason +
                        "; it is left there"};
    }
    target.Release(path);
    return failure;
}

}  // namespace moravel
