#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CopyFrontend.h"
#include "CopyTarget.h"
#include "PartNames.h"
#include "disk/MemoryBlock.h"
#include "tree/DriveTree.h"

namespace moravel {

inline constexpr char kCopyingText[] = "Copying file ... Please wait.";
inline constexpr char kCopySucceededText[] = "The file was succesfully copied";
inline constexpr char kCopyFailedText[] = "The file copying failed.";

// How much the copy reads from the disk at a time, where clusters lie together.
inline constexpr std::size_t kReadAhead = 256 * 1024;

// The window's controls that a copy touches.
struct CopyControls {
    int tree;
    int fileList;
    int progress;
    int status;
};

// The Copy File command: takes the file of the selected list row, asks where to
// put it, refuses old FAT drives, decides on parts for FAT32, and copies the file
// cluster by cluster from the recorder's disk, with progress and a pump step
// after every cluster. What was written stays written, whatever happens.
class CopyCommand {
public:
    CopyCommand(CopyFrontend& frontend, DriveTree& drives, CopyTarget& target,
                CopyControls controls);

    void Run();
    // Ends a running copy after the cluster being copied (the window is closing).
    void RequestStop() { m_stopRequested = true; }

private:
    enum class Outcome { Copied, Failed };

    bool ChooseDestination(const DriveItem& source);
    bool CreateFirstOutput();
    void CopyClusters(const DriveItem& source);
    Outcome CopyLoop(DriveItem& work, const std::uint32_t* chain, std::uint32_t count,
                     std::span<std::uint8_t> buffer);
    bool StartNextPart();
    void ReadRun(DriveItem& work, std::uint32_t cluster, std::uint32_t clusters,
                 std::span<std::uint8_t> buffer);
    std::span<const std::uint8_t> Cluster(DriveItem& work, const std::uint32_t* chain,
                                          std::uint32_t index, std::uint32_t needed,
                                          std::span<std::uint8_t> buffer);
    Outcome Fail(const std::string& text, MessageIcon icon = MessageIcon::Exclamation);
    void ShowError(const std::string& text, MessageButtons buttons = MessageButtons::Ok,
                   MessageIcon icon = MessageIcon::Exclamation);
    void EndLoop(const char* status);
    void EnableSelection();

    CopyFrontend& m_frontend;
    DriveTree& m_drives;
    CopyTarget& m_target;
    CopyControls m_controls;
    bool m_stopRequested = false;

    // The run's state.
    std::string m_folder;
    NameParts m_name;
    bool m_split = false;
    int m_part = 1;
    std::unique_ptr<OutputFile> m_output;
    std::uint64_t m_bytesDone = 0;
    std::uint64_t m_partStart = 0;
    bool InWindow(std::uint32_t index) const {
        return index >= m_windowFirst && index - m_windowFirst < m_windowClusters;
    }

    // The clusters of the chain that the buffer holds: [first, first + clusters).
    std::uint32_t m_windowFirst = 0;
    std::uint32_t m_windowClusters = 0;
};

}  // namespace moravel
