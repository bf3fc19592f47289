#pragma once

#include <cstdint>
#include <ctime>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CopyTarget.h"
#include "CopyTexts.h"
#include "PartNames.h"
#include "RescueEngine.h"
#include "disk/MemoryBlock.h"
#include "disk/Result.h"
#include "tree/DriveTree.h"

namespace moravel {

// How much the copy reads from the disk at a time, where clusters lie together.
inline constexpr std::size_t kReadAhead = 256 * 1024;

// How many byte ranges of filled sectors a report names before it says "...".
inline constexpr std::size_t kFilledRangesShown = 10;

// How a copy ended.
enum class CopyOutcome {
    NotStarted,  // not begun: no file chosen, or the user cancelled
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

// What a copy did: how it ended and why, and what it left where.
struct CopyReport {
    CopyOutcome outcome = CopyOutcome::NotStarted;
    // Why it did not end as a whole copy, for the front end to show; nothing when
    // there is no more to say than the outcome (a stop that was asked for).
    std::optional<Error> error;
    // Sectors that could not be read and went into the output as 0xE5 bytes
    // (only those inside the file's size), and where they lie in it.
    std::uint64_t filledSectors = 0;
    std::vector<ByteRange> filledRanges;
    // Every output file created, in order, with the bytes written into it (by a
    // rescue: the bytes of the recording read into it so far).
    struct Output {
        std::string path;
        std::uint64_t bytes = 0;
    };
    std::vector<Output> outputs;
    // The copy ended early because a stop was asked for.
    bool stopped = false;
    // The first this many outputs still have their working names (WorkingPath):
    // the copy ended before they were whole.
    std::size_t unfinished = 0;
};

// "3 sectors could not be read and were filled with 0xE5 bytes: bytes 0-511,
// 4096-5119." with the first ten ranges, then "...".
std::string FilledSectorsText(const CopyReport& report);
// "3 unreadable sectors were filled with 0xE5 bytes.": the count alone, for a
// line that has little room.
std::string FilledCountText(const CopyReport& report);
// The first ten ranges as "0-511, 4096-5119", then ", ..." when there are more.
std::string ByteRangesText(const std::vector<ByteRange>& ranges);

// The map a rescue keeps beside its output when no other place is given.
std::string MapPathBeside(const std::string& outputPath);
// The rescue map at path on the target; the error says why it is none.
Result<RescueMapFile> ReadRescueMap(CopyTarget& target, const std::string& path);

// An output that a copy writes, with the size it has once whole.
struct PlannedOutput {
    std::string path;
    std::uint64_t size = 0;
};

// Where a copy of one file goes and in how many pieces, worked out before it
// begins, so that a front end can ask the user about it first.
struct CopyPlan {
    DestinationVolume volume;  // the volume that holds the destination
    bool refused = false;      // its file system takes no copies: nothing is written
    bool split = false;        // the file goes in parts of at most kPartLimit bytes
    std::string path;          // the destination as chosen
    std::string folder;        // its folder, with the separator
    NameParts name;            // the file's name there
    // The outputs, in order, with their final names; none when refused.
    std::vector<PlannedOutput> outputs;
};

// The plan for a copy of source to path on the target: the file whole, or in
// parts where the destination takes no file that large. A volume that cannot be
// found is taken as one that takes any file.
CopyPlan PlanCopy(const DriveItem& source, const std::string& path, CopyTarget& target);
// The plan that writes the file whole at path, whatever lies there.
CopyPlan WholeFilePlan(const DriveItem& source, const std::string& path);

// What the user is told about a plan before the copy begins: why the destination
// is refused; that the file goes in parts; and which of the parts' names are
// taken already (nothing when none is), said, or asked as a question.
std::string RefusedDestinationText(const DestinationVolume& volume);
std::string SplitNoticeText(const DestinationVolume& volume);
// The parts' names, "Film_1.ts, Film_2.ts" (of many, the first three and the
// last); and what a split plan tells before it begins: the parts, and how to
// play them as one.
std::string PartNamesText(const std::vector<std::string>& paths);
std::string PartsPlanText(const CopyPlan& plan);
std::optional<std::string> ReplacedPartsText(const CopyPlan& plan, CopyTarget& target);
std::optional<std::string> ReplacePartsQuestion(const CopyPlan& plan, CopyTarget& target);

// How a rescue copy runs (see RescueEngine): where its map is kept (empty: beside
// the output, as OUTPUT.moravel-map), and how often bad sectors are read again at
// the end.
struct RescueSettings {
    std::string mapPath;
    unsigned retries = 1;
};

// How a copy tells how far it is. Every call is a step at which a window may
// handle its messages; after each, StopRequested is asked.
class CopyProgress {
public:
    virtual ~CopyProgress() = default;
    // The outputs are open and the copy begins to read the file, of size bytes.
    virtual void Began(std::uint64_t size) { (void)size; }
    // After every cluster: the bytes of the file written so far.
    virtual void Copied(std::uint64_t bytesDone, std::uint64_t size) {
        (void)bytesDone;
        (void)size;
    }
    // While a read goes around sectors that fail, after each one: how many
    // sectors of the file could not be read so far. A failing drive may spend
    // seconds on each; Copied follows once the read is done.
    virtual void ReadingAroundUnreadable(std::uint64_t sectorsSoFar) { (void)sectorsSoFar; }
    // After every step of a rescue copy.
    virtual void Rescued(const RescueProgress& progress) { (void)progress; }
    // True ends the copy after the cluster or step being copied.
    virtual bool StopRequested() { return false; }
};

// One file copied from the recorder's disk to the outputs of its plan, cluster
// by cluster along its chain, or as a rescue (see RescueEngine). What was
// written stays written, whatever happens, and a copy that had to fill
// unreadable sectors never reports success. It asks nobody anything: a front end
// asks its questions about the plan before it runs the job.
class CopyJob {
public:
    CopyJob(DriveTree& drives, CopyTarget& target) : m_drives(drives), m_target(target) {}
    // Closes an output that is still open (a progress step that threw, say) while
    // the bytes it may still hold are alive.
    ~CopyJob();
    CopyJob(const CopyJob&) = delete;
    CopyJob& operator=(const CopyJob&) = delete;

    // Copies source as the plan says. A plan that is refused writes nothing.
    // Throws what a progress step throws, or running out of memory, once the
    // outputs are closed; Report then tells what was done.
    CopyReport Run(const DriveItem& source, const CopyPlan& plan, CopyProgress& progress);
    // From now on the job makes rescue copies (nothing: normal copies again).
    void SetRescue(std::optional<RescueSettings> settings) { m_rescue = std::move(settings); }
    // Ends a running copy after the cluster being copied.
    void RequestStop() { m_stopRequested = true; }

    const CopyReport& Report() const { return m_report; }

private:
    // The path of output `part` (from 1) of a normal copy.
    std::string OutputPath(int part) const;
    bool CreateOutput(const std::string& path);
    bool CloseOutput(bool whole);
    bool PublishOutputs();
    void NoteWriteFailure(const std::string& path, const std::string& reason);
    std::string WriteFailedText() const;
    std::string CannotCreateText() const;
    void CopyClusters(const DriveItem& source);
    void RescueClusters(const DriveItem& source);
    std::string MapPath() const;
    bool LoadRescueState(const DriveItem& file, std::uint32_t needed, RescueMapFile& state);
    bool OpenParts(bool fresh);
    bool WriteParts(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    bool SaveMap(const RescueMapFile& state);
    bool CloseParts(bool whole);
    void EndRescue(RescueEngine::Result result, const RescueMapFile& state,
                   const DriveItem& source);
    bool LoadChain(const DriveItem& file, std::uint32_t& count);
    void CopyLoop(const DriveItem& file, std::uint32_t count);
    bool StartNextPart();
    void ReadRun(const DriveItem& file, std::uint32_t index, std::uint32_t clusters);
    std::span<const std::uint8_t> Cluster(const DriveItem& file, std::uint32_t index,
                                          std::uint32_t needed);
    void NoteFilled(const DriveItem& file, std::uint32_t index,
                    const UnreadableSectors& unreadable);
    // The disk the file is on no longer answers: the copy's last word.
    std::string SourceGoneText(const DriveItem& file) const;
    void End(CopyOutcome outcome, const std::string& message = "",
             Error::Weight weight = Error::Weight::Warning);
    // Passes a progress step on, and a stop asked for there.
    void Step(std::uint64_t bytesDone);
    void SectorFailed(std::uint64_t sectorsSoFar);
    bool InWindow(std::uint32_t index) const {
        return index >= m_windowFirst && index - m_windowFirst < m_windowClusters;
    }

    DriveTree& m_drives;
    CopyTarget& m_target;
    bool m_stopRequested = false;
    // A read failed, and the disk no longer answered: nothing more can be read.
    bool m_sourceGone = false;
    CopyReport m_report;
    std::optional<RescueSettings> m_rescue;

    // The run's state.
    const CopyPlan* m_plan = nullptr;
    CopyProgress* m_progress = nullptr;
    // What the progress threw while told of a failed sector in the middle of a
    // read, thrown again once the read is done.
    std::exception_ptr m_progressFailure;
    // The source entry's last-write time, which every output file keeps.
    std::optional<std::time_t> m_modified;
    int m_part = 1;
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
    // The output that could not be created, and why ("PATH: REASON").
    std::string m_uncreated;
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
