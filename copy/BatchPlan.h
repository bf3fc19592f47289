#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "CopyJob.h"

namespace moravel {

// A folder of the drive tree: a directory entry, or a volume's root directory.
bool IsFolder(const DriveItem& item);

// The name a folder is given: its long or unpadded short name; a root directory
// (a FAT32 one is a chain of clusters without an entry) by the name it is
// listed with.
std::string FolderName(const DriveItem& folder);

// One file of a copy of several: where it comes from (named by path in what is
// reported) and where it goes.
struct BatchFile {
    DriveItem* source = nullptr;
    std::string path;
    std::filesystem::path output;
};

// A folder made by the copy; its date is set once its files are in it.
struct FolderDate {
    std::filesystem::path path;
    const DriveItem* entry = nullptr;
};

// How a copy of several files reads the folders it takes whole.
class FolderReader {
public:
    struct Child {
        DriveItem* item = nullptr;
        std::string path;  // names the child in what is reported
    };
    // The folder's children in the order found, each with its path below the
    // folder's.
    virtual std::vector<Child> Children(DriveItem& folder, const std::string& path) = 0;
    // Whether reading the folder failed: its children were not all read.
    virtual bool ReadInPart(const DriveItem& folder) const = 0;

protected:
    ~FolderReader() = default;
};

// What a copy of several files and folders into one folder writes: every file
// under a safe name of its own, sub-folders kept.
class BatchPlan {
public:
    // Directories deeper than this below a folder taken whole are not opened: a
    // damaged disk can nest folders without end.
    static constexpr std::size_t kMaxDepth = 256;

    explicit BatchPlan(FolderReader& reader) : m_reader(reader) {}

    void AddFile(DriveItem& file, const std::string& path, const std::filesystem::path& folder);
    // Every file below the folder; a folder that a damaged disk links from several
    // places, or nests without end, is taken once.
    void AddFolder(DriveItem& folder, const std::string& path, const std::filesystem::path& parent,
                   std::size_t depth = 0);

    std::vector<BatchFile>& Jobs() { return m_jobs; }
    std::uint64_t TotalBytes() const;
    const std::vector<FolderDate>& Folders() const { return m_folders; }
    // Folders taken before, or nested too deep: not copied again.
    const std::vector<std::string>& SkippedFolders() const { return m_skippedFolders; }
    // Folders that could not be read, or not wholly: their files are not all copied.
    const std::vector<std::string>& UnreadFolders() const { return m_unreadFolders; }

private:
    std::filesystem::path UniqueOutput(const std::filesystem::path& folder,
                                       const std::string& name);

    using DirectoryKey = std::tuple<std::uint16_t, std::uint32_t, std::uint32_t>;

    FolderReader& m_reader;
    std::vector<BatchFile> m_jobs;
    std::vector<FolderDate> m_folders;
    std::set<DirectoryKey> m_openedFolders;
    std::vector<std::string> m_skippedFolders;
    std::vector<std::string> m_unreadFolders;
    std::set<std::string> m_outputs;
};

// Whether every output the plan writes is there at its size, and no rescue of it
// has passes to go.
bool HasWholeOutput(const CopyPlan& plan, CopyTarget& target);

// Sets a folder's date to its entry's; nothing for a root directory.
void SetFolderDate(const FolderDate& folder);
// The folder's last change, as the platform keeps it; a failure leaves it as it was.
void SetFolderModified(const std::filesystem::path& path, std::time_t seconds);

// How a copy of several files ended.
struct BatchTally {
    std::size_t files = 0;
    std::size_t copied = 0;
    std::size_t skipped = 0;  // already there whole
    std::size_t failed = 0;   // not or not wholly copied
    std::size_t unreadFolders = 0;
    bool interrupted = false;
};

// "Copied 3 of 12 files, skipped 1 already there, 2 not or not wholly copied,
// 1 folder not or not wholly read, interrupted."
std::string BatchSummaryText(const BatchTally& tally);

}  // namespace moravel
