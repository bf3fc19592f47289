#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CopyFrontend.h"
#include "CopyTarget.h"
#include "PartNames.h"
#include "RescueEngine.h"
#include "disk/MemoryBlock.h"
#include "tree/DriveTree.h"

namespace moravel {

inline constexpr char kCopyingText[] = "Copying file ... Please wait.";
inline constexpr char kCopySucceededText[] = "The file was succesfully copied";
inline constexpr char kCopyFailedText[] = "The file copying failed.";
// A copy that wrote every byte of the file, some of them 0xE5 for sectors that
// could not be read: the status line goes on to say which.
inline constexpr char kCopyIncompleteText[] = "The file was copied incompletely.";

// How much the copy reads from the disk at a time, where clusters lie together.
inline constexpr std::size_t kReadAhead = 256 * 1024;

// How many byte ranges of filled sectors a report names before it says "...".
inline constexpr std::size_t kFilledRangesShown = 10;

// The window's controls that a copy touches.
struct CopyControls {
    int tree;
    int fileList;
    int progress;
    int status;
};

// How a run of the command ended.
enum class CopyOutcome {
    NotStarted,  // no file selected, the Save dialog or the split notice cancelled
    Refused,     // the destination's file system is refused: nothing was created
    Copied,      // every byte, as read from the disk
    Incomplete,  // every byte, but sectors that could not be read are 0xE5 bytes
    Failed,      // the file was not copied, or not to its end
};

// Bytes [first, last] of the copied file (all parts together), inclusive.
struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

// What a run of the command did, for a front end that reports more than the
// window's status line shows.
struct CopyReport {
    CopyOutcome outcome = CopyOutcome::NotStarted;
    // Sectors that could not be read and went into the output as 0xE5 bytes
    // (only those inside the file's size), and where they lie in it.
    std::uint64_t filledSectors = 0;
    std::vector<ByteRange> filledRanges;
    // An output file that could not be created, and why.
    std::string uncreatedPath;
    std::string uncreatedReason;
    // Every output file created, in order, with the bytes written into it (by a
    // rescue: the bytes of the recording read into it so far).
    struct Output {
        std::string path;
        std::uint64_t bytes = 0;
    };
    std::vector<Output> outputs;
    // The copy ended early because a stop was asked for.
    bool stopped = false;
};

// "3 sectors could not be read and were filled with 0xE5 bytes: bytes 0-511,
// 4096-5119." with the first ten ranges, then "...".
std::string FilledSectorsText(const CopyReport& report);
// The first ten ranges as "0-511, 4096-5119", then ", ..." when there are more.
std::string ByteRangesText(const std::vector<ByteRange>& ranges);

// The map a rescue keeps beside its output when no other place is given.
std::string MapPathBeside(const std::string& outputPath);

// An output that a copy writes, with the size it has once whole.
struct PlannedOutput {
    std::string path;
    std::uint64_t size = 0;
};
// The outputs that a copy of source to path writes on the target: the file, or
// its parts where the destination takes no file that large. Empty when the
// destination's file system is refused.
std::vector<PlannedOutput> PlannedOutputs(const DriveItem& source, const std::string& path,
                                          CopyTarget& target);

// How a rescue copy runs (see RescueEngine): where its map is kept (empty: beside
// the output, as OUTPUT.moravel-map), and how often bad sectors are read again at
// the end.
struct RescueSettings {
    std::string mapPath;
    unsigned retries = 1;
};

// The Copy File command: takes the file of the selected list row, asks where to
// put it, refuses old FAT drives, decides on parts for FAT32, and copies the file
// cluster by cluster from the recorder's disk, with progress and a pump step
// after every cluster. What was written stays written, whatever happens, and a
// copy that had to fill unreadable sectors never reports success.
class CopyCommand {
public:
    CopyCommand(CopyFrontend& frontend, DriveTree& drives, CopyTarget& target,
                CopyControls controls);
    // Closes an output that is still open (a pump step that threw, say) while the
    // bytes it may still hold are alive.
    ~CopyCommand();
    CopyCommand(const CopyCommand&) = delete;
    CopyCommand& operator=(const CopyCommand&) = delete;

    void Run();
    // From now on the command makes rescue copies (nothing: normal copies again).
    void SetRescue(std::optional<RescueSettings> settings) { m_rescue = std::move(settings); }
    // Ends a running copy after the cluster being copied (the window is closing).
    void RequestStop() { m_stopRequested = true; }

    const CopyReport& Report() const { return m_report; }

private:
    bool ChooseDestination(const DriveItem& source);
    bool ConfirmReplacingParts(const DriveItem& source);
    bool CreateOutput(const std::string& name);
    bool CloseOutput(bool whole);
    bool PublishOutputs();
    void NoteWriteFailure(const std::string& path, const std::string& reason);
    std::string WriteFailedText() const;
    std::string CannotCreateText() const;
    std::string KeptText() const;
    void CopyClusters(const DriveItem& source);
    // The status line says a copy runs, and the bar shows from 0.
    void ShowCopying();
    void RescueClusters(const DriveItem& source);
    std::string MapPath() const;
    bool LoadRescueState(const DriveItem& work, std::uint32_t needed, RescueMapFile& state);
    bool OpenParts(std::uint64_t size, std::uint64_t clusterBytes, bool fresh);
    bool WriteParts(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    bool SaveMap(const RescueMapFile& state);
    bool CloseParts(bool whole);
    void EndRescue(RescueEngine::Result result, const RescueMapFile& state);
    bool LoadChain(DriveItem& work, std::uint32_t& count);
    void CopyLoop(DriveItem& work, std::uint32_t count);
    bool StartNextPart();
    void ReadRun(DriveItem& work, std::uint32_t index, std::uint32_t clusters);
    std::span<const std::uint8_t> Cluster(DriveItem& work, std::uint32_t index,
                                          std::uint32_t needed);
    void NoteFilled(const DriveItem& work, std::uint32_t index,
                    const UnreadableSectors& unreadable);
    void End(CopyOutcome outcome, const std::string& message = "",
             MessageIcon icon = MessageIcon::Exclamation);
    void ShowError(const std::string& text, MessageButtons buttons = MessageButtons::Ok,
                   MessageIcon icon = MessageIcon::Exclamation);
    void EnableSelection(bool enable);
    bool InWindow(std::uint32_t index) const {
        return index >= m_windowFirst && index - m_windowFirst < m_windowClusters;
    }

    CopyFrontend& m_frontend;
    DriveTree& m_drives;
    CopyTarget& m_target;
    CopyControls m_controls;
    bool m_stopRequested = false;
    CopyReport m_report;
    std::optional<RescueSettings> m_rescue;

    // The run's state.
    std::string m_folder;
    NameParts m_name;
    // The source entry's last-write time, which every output file keeps.
    std::optional<std::time_t> m_modified;
    bool m_split = false;
    int m_part = 1;
    bool m_copying = false;  // the status line and the bar show the copy
    // The buffer (the FAT, then the clusters) outlives the output, which may hold
    // on to bytes of it until it is closed.
    MemoryBlock m_buffer;
    MemoryBlock m_chain;
    // Why the chain ends where it does when it runs into a FAT sector that could
    // not be read: such a copy never ends as a success. Empty otherwise.
    std::string m_chainCut;
    std::unique_ptr<OutputFile> m_output;
    // The final names of the outputs written under their working names, in the
    // order of m_report.outputs; each is published once every byte is written.
    std::vector<std::string> m_unpublished;
    // A rescue going on after all its passes ended: its outputs have their names.
    bool m_rescuePublished = false;
    // Why the last write, sync, close or rename failed.
    std::string m_writeFailure;
    std::uint64_t m_fileSize = 0;
    std::uint64_t m_bytesDone = 0;
    std::uint64_t m_partStart = 0;
    // The clusters of the chain that the buffer holds: [first, first + clusters).
    std::uint32_t m_windowFirst = 0;
    std::uint32_t m_windowClusters = 0;

    // A rescue copy's parts, opened to be written anywhere, by their first byte in
    // the recording.
    struct Part {
        std::uint64_t first = 0;
        std::uint64_t size = 0;
        std::unique_ptr<PositionedFile> file;
    };
    std::vector<Part> m_parts;
};

}  // namespace moravel
