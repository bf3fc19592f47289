#include "BatchPlan.h"

#include <algorithm>

#include "PartNames.h"
#include "RescueMap.h"
#include "disk/PathText.h"
#include "tree/FatDate.h"
#include "tree/NameText.h"

namespace moravel {

bool IsFolder(const DriveItem& item) {
    return (item.m_kind == ItemKind::Entry && item.IsDirectory()) ||
           item.m_kind == ItemKind::RootDirectory;
}

std::string FolderName(const DriveItem& folder) {
    return FitFileName(SafeFileName(folder.PlainName()));
}

void BatchPlan::AddFile(DriveItem& file, const std::string& path,
                        const std::filesystem::path& folder) {
    m_jobs.push_back(
        {&file, path, UniqueOutput(folder, FitFileName(SafeFileName(file.EntryName())))});
}

void BatchPlan::AddFolder(DriveItem& folder, const std::string& path,
                          const std::filesystem::path& parent, std::size_t depth) {
    const DirectoryKey key{
        folder.m_drive, folder.m_partitionStart,
        folder.m_kind == ItemKind::Entry ? folder.m_firstCluster : folder.m_relativeSector};
    if (depth > kMaxDepth || !m_openedFolders.insert(key).second) {
        m_skippedFolders.push_back(path);
        return;
    }
    const std::filesystem::path output = UniqueOutput(parent, FolderName(folder));
    m_folders.push_back({output, folder.m_kind == ItemKind::Entry ? &folder : nullptr});
    const std::vector<FolderReader::Child> children = m_reader.Children(folder, path);
    if (m_reader.ReadInPart(folder)) {
        m_unreadFolders.push_back(path);
    }
    for (const FolderReader::Child& child : children) {
        if (IsFolder(*child.item)) {
            AddFolder(*child.item, child.path, output, depth + 1);
        } else if (child.item->IsFile() && !child.item->IsVolumeLabel()) {
            AddFile(*child.item, child.path, output);
        }
    }
}

std::uint64_t BatchPlan::TotalBytes() const {
    std::uint64_t total = 0;
    for (const BatchFile& job : m_jobs) {
        total += job.source->m_fileSize;
    }
    return total;
}

// Two entries may come to the same output name (a damaged folder, names that
// differ only in what a file name cannot hold, a file and a folder of one
// name): the later one gets " (2)", " (3)", ... before its extension, so that no
// copy of the run replaces another or is kept from its place.
std::filesystem::path BatchPlan::UniqueOutput(const std::filesystem::path& folder,
                                              const std::string& name) {
    std::filesystem::path output = folder / PathFromUtf8(name);
    // Compared without regard to case, as a FAT32 or NTFS destination does.
    for (int n = 2; !m_outputs.insert(FoldCase(Utf8FromPath(output))).second; ++n) {
        output = folder / PathFromUtf8(FitFileName(NumberedName(name, n)));
    }
    return output;
}

namespace {

// Whether a rescue map beside the output says the rescue has passes to go (or is
// no map that can be read: then what it kept cannot be told either).
bool RescueUnfinished(const std::string& output, CopyTarget& target) {
    const std::string map = MapPathBeside(output);
    if (!target.Exists(map)) {
        return false;
    }
    const Result<RescueMapFile> read = ReadRescueMap(target, map);
    return !read || read->pass != RescuePass::Done;
}

}  // namespace

bool HasWholeOutput(const CopyPlan& plan, CopyTarget& target) {
    const std::vector<PlannedOutput>& planned = plan.outputs;
    if (planned.empty() || RescueUnfinished(plan.path, target)) {
        return false;
    }
    return std::all_of(planned.begin(), planned.end(), [&target](const PlannedOutput& file) {
        const Result<std::uint64_t> size = target.SizeOf(file.path);
        return size && *size == file.size;
    });
}

void SetFolderDate(const FolderDate& folder) {
    if (folder.entry == nullptr) {
        return;
    }
    const auto moment = DecodeFatDateTime(folder.entry->m_writeDate, folder.entry->m_writeTime);
    const auto seconds = moment ? LocalTimeOf(*moment) : std::nullopt;
    if (seconds) {
        SetFolderModified(folder.path, *seconds);
    }
}

std::string BatchSummaryText(const BatchTally& tally) {
    std::string text =
        "Copied " + std::to_string(tally.copied) + " of " + std::to_string(tally.files) + " files";
    if (tally.skipped > 0) {
        text += ", skipped " + std::to_string(tally.skipped) + " already there";
    }
    if (tally.failed > 0) {
        text += ", " + std::to_string(tally.failed) + " not or not wholly copied";
    }
    if (tally.unreadFolders > 0) {
        text += ", " + std::to_string(tally.unreadFolders) +
                (tally.unreadFolders == 1 ? " folder" : " folders") + " not or not wholly read";
    }
    return text + (tally.interrupted ? ", interrupted." : ".");
}

}  // namespace moravel
