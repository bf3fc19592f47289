#include "CopyJob.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "CopyTexts.h"
#include "FileReader.h"
#include "disk/Sector.h"
#include "tree/FatChain.h"
#include "tree/FatDate.h"

namespace moravel {

std::string SourceGoneText(const std::string& disk) {
    return "The disk " + disk +
           " no longer answers: it was pulled out, or it failed. The copy stopped.";
}

std::string CopyJob::SourceGoneText(const DriveItem& file) const {
    return moravel::SourceGoneText(m_drives.SourcePath(file.m_drive).value_or("being read"));
}

std::string Fatal(const char* function) {
    return std::string("Fatal Error: Funtion m_driveAccess.") + function + "() caused an exeption.";
}

namespace {

// The pattern with each "%s" replaced by the next value, left to right: a value
// that itself holds "%s" (a mount point, say) is taken as it stands.
std::string Formatted(std::string_view pattern, const std::string& a, const std::string& b = "") {
    std::string text;
    const std::string* values[] = {&a, &b};
    std::size_t used = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern.substr(i, 2) == "%s" && used < 2) {
            text += *values[used++];
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

// Keeps only what lies in the first `bytes` bytes of the file.
void ClipFilled(CopyReport& report, std::uint64_t bytes) {
    auto& ranges = report.filledRanges;
    while (!ranges.empty() && ranges.back().first >= bytes) {
        ranges.pop_back();
    }
    if (!ranges.empty() && ranges.back().last >= bytes) {
        ranges.back().last = bytes - 1;
    }
    report.filledSectors = 0;
    for (const ByteRange& range : ranges) {
        report.filledSectors += (range.last - range.first) / kSectorSize + 1;
    }
}

}  // namespace

std::string FilledCountText(const CopyReport& report) {
    const bool one = report.filledSectors == 1;
    return std::to_string(report.filledSectors) +
           (one ? " unreadable sector was" : " unreadable sectors were") +
           " filled with 0xE5 bytes.";
}

std::string FilledSectorsText(const CopyReport& report) {
    std::string text = std::to_string(report.filledSectors) +
                       (report.filledSectors == 1 ? " sector" : " sectors") +
                       " could not be read and " + (report.filledSectors == 1 ? "was" : "were") +
                       " filled with 0xE5 bytes: bytes ";
    text += ByteRangesText(report.filledRanges);
    return text + (report.filledRanges.size() > kFilledRangesShown ? "" : ".");
}

std::string ByteRangesText(const std::vector<ByteRange>& ranges) {
    std::string text;
    const std::size_t shown = std::min(ranges.size(), kFilledRangesShown);
    for (std::size_t i = 0; i < shown; ++i) {
        text += (i == 0 ? "" : ", ") + std::to_string(ranges[i].first) + "-" +
                std::to_string(ranges[i].last);
    }
    return text + (ranges.size() > shown ? ", ..." : "");
}

std::string RefusedDestinationText(const DestinationVolume& volume) {
    return Formatted(
        "The destination drive %s uses the %s file system.\nOnly FAT32 and NTFS file stystems "
        "are supported.",
        volume.rootPath, volume.fileSystem);
}

// Parts that were asked for are no limit of the destination's: it is not said
// to be FAT32.
std::string SplitNoticeText(const DestinationVolume& volume) {
    if (volume.partsAsked) {
        return "Splitting as asked: the file will be copied in multiple parts of at most 4 GB.";
    }
    return Formatted(
        "The destination drive %s uses the FAT32 file system. This limits the maximum file size "
        "to 4GB.\nThe file will be copied in multiple parts.",
        volume.rootPath);
}

namespace {

std::string BareName(const std::string& path) {
    return path.substr(FolderOf(path).size());
}

// A name as a shell takes it (Windows: as cmd.exe does).
std::string Quoted(const std::string& name) {
    const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '-';
    });
    if (plain) {
        return name;
    }
#ifdef _WIN32
    return '"' + name + '"';
#else
    std::string quoted = "'";
    for (const char c : name) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
#endif
}

}  // namespace

std::string PartNamesText(const std::vector<std::string>& paths) {
    constexpr std::size_t kNamedAll = 5;
    std::string text;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (paths.size() > kNamedAll && i >= 3 && i + 1 < paths.size()) {
            if (i == 3) {
                text += ", ...";
            }
            continue;
        }
        text += (i == 0 ? "" : ", ") + BareName(paths[i]);
    }
    return text;
}

// The parts are cut at clusters, not at the stream's packets: joined byte for
// byte they are the recording again, while a player that opens them in turn may
// stumble where they meet.
std::string PartsPlanText(const CopyPlan& plan) {
    std::vector<std::string> paths;
    std::string join;
    for (const PlannedOutput& output : plan.outputs) {
        paths.push_back(output.path);
#ifdef _WIN32
        join += (join.empty() ? "copy /b " : " + ") + Quoted(BareName(output.path));
#else
        join += (join.empty() ? "cat " : " ") + Quoted(BareName(output.path));
#endif
    }
    const std::string whole = Quoted(plan.name.base + plan.name.extension);
#ifdef _WIN32
    join += " " + whole;
#else
    join += " > " + whole;
#endif
    return "It goes in " + std::to_string(paths.size()) + " parts: " + PartNamesText(paths) +
           ".\nTo play them as one, join them on a drive that takes large files (" + join +
           "), or open them in turn in a player.";
}

CopyPlan WholeFilePlan(const DriveItem& source, const std::string& path) {
    CopyPlan plan;
    plan.path = path;
    plan.folder = FolderOf(path);
    plan.name = SplitFileName(std::string_view(path).substr(plan.folder.size()));
    plan.outputs.push_back({path, source.m_fileSize});
    return plan;
}

CopyPlan PlanCopy(const DriveItem& source, const std::string& path, CopyTarget& target) {
    CopyPlan plan = WholeFilePlan(source, path);
    plan.volume = target.VolumeOf(path).value_or(DestinationVolume{plan.folder, ""});
    if (IsRefusedFileSystem(plan.volume.fileSystem)) {
        plan.refused = true;
        plan.outputs.clear();
        return plan;
    }
    plan.split = NeedsParts(plan.volume.fileSystem, source.m_fileSize);
    if (!plan.split) {
        return plan;
    }
    const std::vector<std::uint64_t> starts =
        PartStarts(source.m_fileSize, SectorsToBytes(source.m_sectorsPerCluster), true);
    plan.outputs.clear();
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::uint64_t end = i + 1 < starts.size() ? starts[i + 1] : source.m_fileSize;
        plan.outputs.push_back(
            {plan.folder + PartName(plan.name, static_cast<int>(i + 1)), end - starts[i]});
    }
    return plan;
}

// A window's Save dialog asks about the name typed there; a split copy writes
// other names, and the user is asked before any of them that is there is replaced.
std::optional<std::string> ReplacedPartsText(const CopyPlan& plan, CopyTarget& target) {
    std::string existing;
    for (const PlannedOutput& output : plan.outputs) {
        if (target.Exists(output.path)) {
            existing += "\n" + output.path.substr(plan.folder.size());
        }
    }
    if (!plan.split || existing.empty()) {
        return std::nullopt;
    }
    return "These files are in " + plan.folder + " already and will be replaced:" + existing;
}

std::optional<std::string> ReplacePartsQuestion(const CopyPlan& plan, CopyTarget& target) {
    const std::optional<std::string> replaced = ReplacedPartsText(plan, target);
    return replaced ? std::optional(*replaced + "\nReplace them?") : std::nullopt;
}

CopyJob::~CopyJob() {
    if (m_output != nullptr) {
        m_output->Close();
    }
}

CopyReport CopyJob::Run(const DriveItem& source, const CopyPlan& plan, CopyProgress& progress) {
    m_report = CopyReport{};
    m_unpublished.clear();
    m_rescuePublished = false;
    m_sourceGone = false;
    m_progressFailure = nullptr;
    m_writeFailure.clear();
    m_uncreated.clear();
    if (plan.refused) {
        m_report.outcome = CopyOutcome::Refused;
        m_report.error = Error{RefusedDestinationText(plan.volume), Error::Weight::Stop};
        return m_report;
    }
    m_plan = &plan;
    m_progress = &progress;
    // The plan and the sink are the caller's: the job holds them only while it runs.
    struct Release {
        CopyJob& job;
        ~Release() {
            job.m_plan = nullptr;
            job.m_progress = nullptr;
        }
    } release{*this};
    const auto written = DecodeFatDateTime(source.m_writeDate, source.m_writeTime);
    m_modified = written ? LocalTimeOf(*written) : std::nullopt;
    try {
        if (m_rescue) {
            // A rescue's outputs keep what an earlier run of it wrote.
            RescueClusters(source);
            return m_report;
        }
        m_part = 1;
        if (!CreateOutput(OutputPath(1))) {
            End(CopyOutcome::Failed, CannotCreateText(), Error::Weight::Stop);
            return m_report;
        }
        CopyClusters(source);
    } catch (...) {
        // A handler that failed inside a progress step, or memory that ran out: the
        // copy ends as failed, its outputs closed, and the caller learns why.
        End(CopyOutcome::Failed, "", Error::Weight::Stop);
        throw;
    }
    return m_report;
}

std::string CopyJob::OutputPath(int part) const {
    return m_plan->split ? m_plan->folder + PartName(m_plan->name, part) : m_plan->path;
}

bool CopyJob::CreateOutput(const std::string& path) {
    Result<std::unique_ptr<OutputFile>> output = m_target.Create(path);
    if (!output) {
        m_uncreated = path + ": " + output.error().reason;
        return false;
    }
    m_output = std::move(*output);
    m_report.outputs.push_back({WorkingPath(path), 0});
    m_unpublished.push_back(path);
    return true;
}

// Closes the output being written; one that holds the whole of its part is first
// synced to its device. False, with the reason kept, when a write failed.
bool CopyJob::CloseOutput(bool whole) {
    const bool synced = !whole || m_output->Sync();
    const bool closed = m_output->Close();
    if (!synced || !closed) {
        NoteWriteFailure(m_report.outputs.back().path, m_output->Failure());
    }
    // Bytes it took but could not hand on are not in the file.
    if (const auto written = m_output->BytesWritten()) {
        m_report.outputs.back().bytes = *written;
    }
    m_output.reset();
    return synced && closed;
}

// Every byte is written: each output gets its final name and the recording's date.
bool CopyJob::PublishOutputs() {
    for (std::size_t i = 0; i < m_unpublished.size(); ++i) {
        if (const Failure failure = m_target.Publish(m_unpublished[i], m_modified)) {
            m_writeFailure = m_report.outputs[i].path + " could not be renamed to " +
                             m_unpublished[i] + ": " + failure->reason;
            return false;
        }
        m_report.outputs[i].path = m_unpublished[i];
    }
    m_unpublished.clear();
    return true;
}

// The output at path failed for that reason.
void CopyJob::NoteWriteFailure(const std::string& path, const std::string& reason) {
    m_writeFailure = path + ": " + (reason.empty() ? std::string("the write failed") : reason);
}

std::string CopyJob::WriteFailedText() const {
    return std::string(kWriteFailed) + (m_writeFailure.empty() ? "" : "\n" + m_writeFailure);
}

std::string CopyJob::CannotCreateText() const {
    return std::string(kCannotCreate) + "\n" + m_uncreated;
}

bool CopyJob::StartNextPart() {
    if (!CloseOutput(true)) {
        End(CopyOutcome::Failed, WriteFailedText());
        return false;
    }
    ++m_part;
    m_partStart = m_bytesDone;
    if (!CreateOutput(OutputPath(m_part))) {
        End(CopyOutcome::Failed, CannotCreateText(), Error::Weight::Stop);
        return false;
    }
    return true;
}

// Every end of a run that began to copy comes here: the outputs are closed
// (what they still hold is written first, and a failure to close fails the copy),
// and published when whole; the report tells the outcome and why.
void CopyJob::End(CopyOutcome outcome, const std::string& message, Error::Weight weight) {
    std::string shown = message;
    // A chain cut short by a lost FAT sector may go on past the entry's size (a
    // recording over 4 GiB): what was copied is kept, but is no whole file.
    if (outcome == CopyOutcome::Copied && !m_chainCut.empty()) {
        outcome = CopyOutcome::Failed;
        shown = m_chainCut;
    }
    // Copied: every byte was written, some perhaps 0xE5 for unreadable sectors.
    const bool whole = outcome == CopyOutcome::Copied;
    bool closed = true;
    if (m_output != nullptr) {
        closed = CloseOutput(whole);
    }
    closed = CloseParts(whole) && closed;
    if (!closed && outcome != CopyOutcome::Failed) {
        outcome = CopyOutcome::Failed;
        shown = WriteFailedText();
    }
    if (outcome == CopyOutcome::Copied && !PublishOutputs()) {
        outcome = CopyOutcome::Failed;
        shown = WriteFailedText();
    }
    // What is kept under working names may be taken up by another copy now.
    for (const PlannedOutput& output : m_plan->outputs) {
        m_target.Release(output.path);
    }
    m_chain.Release();
    m_buffer.Release();
    ClipFilled(m_report, m_bytesDone);
    if (outcome == CopyOutcome::Copied && m_report.filledSectors > 0) {
        outcome = CopyOutcome::Incomplete;
    }
    m_report.outcome = outcome;
    if (!shown.empty()) {
        m_report.error = Error{shown, weight};
    }
    m_report.unfinished = m_unpublished.size();
    m_unpublished.clear();
}

void CopyJob::Step(std::uint64_t bytesDone) {
    m_progress->Copied(bytesDone, m_fileSize);
    if (m_progress->StopRequested()) {
        m_stopRequested = true;
    }
}

// Called from inside a read: what the progress throws must not pass through the
// read's own handling of failures, and waits until the read is done.
void CopyJob::SectorFailed(std::uint64_t sectorsSoFar) {
    if (m_progressFailure) {
        return;
    }
    try {
        m_progress->ReadingAroundUnreadable(sectorsSoFar);
        if (m_progress->StopRequested()) {
            m_stopRequested = true;
        }
    } catch (...) {
        m_progressFailure = std::current_exception();
    }
}

void CopyJob::CopyClusters(const DriveItem& source) {
    std::uint32_t count = 0;
    if (!LoadChain(source, count)) {
        return;
    }
    m_progress->Began(source.m_fileSize);
    CopyLoop(source, count);
}

// The FAT into the buffer, and the file's cluster chain out of it into m_chain;
// false (the job ended) when either cannot be had.
bool CopyJob::LoadChain(const DriveItem& file, std::uint32_t& count) {
    m_bytesDone = 0;
    m_chainCut.clear();
    // A FAT that cannot be the volume's is not read: neither copy is usable.
    if (!m_drives.FatFits(file)) {
        End(CopyOutcome::Failed, "internal error 00029");
        return false;
    }
    m_buffer = MemoryBlock::Allocate(
        static_cast<std::size_t>(SectorsToBytes(std::uint64_t{file.m_sectorsPerCluster} * 1024)));
    if (!m_buffer) {
        End(CopyOutcome::Failed, "internal error 00025");
        return false;
    }
    // The FAT pieces the chain runs through, where a listing has not read them
    // already. A FAT sector that reads from neither copy cuts only the chains that
    // run into it: this one is copied as far as it is known.
    Result<FileChain, ChainFailure> chain = LoadFileChain(m_drives, file, &m_stopRequested);
    if (!chain && chain.error() == ChainFailure::NoMemory) {
        End(CopyOutcome::Failed, "internal error 00027");
        return false;
    }
    if (!chain) {
        m_report.stopped = m_stopRequested;
        End(CopyOutcome::Failed, m_stopRequested                       ? ""
                                 : !m_drives.DiskAnswers(file.m_drive) ? SourceGoneText(file)
                                                                       : "internal error 00026");
        return false;
    }
    count = chain->count;
    m_chain = std::move(chain->block);
    if (chain->lostFatSector) {
        m_chainCut = "Error: " + ChainCutText(file, *chain) +
                     "\nNote that the fragment of the file that was succesfully "
                     "copied may still be used.";
    }
    return true;
}

// Records where the sectors of a run that could not be read went in the file;
// the run began with cluster `index` of the chain.
void CopyJob::NoteFilled(const DriveItem& file, std::uint32_t index,
                         const UnreadableSectors& unreadable) {
    const std::uint64_t clusterBytes = SectorsToBytes(file.m_sectorsPerCluster);
    auto& ranges = m_report.filledRanges;
    for (const std::uint32_t sector : unreadable) {
        const std::uint64_t first =
            (std::uint64_t{index} + sector / file.m_sectorsPerCluster) * clusterBytes +
            SectorsToBytes(sector % file.m_sectorsPerCluster);
        if (first >= m_fileSize) {
            continue;  // past the end of the file: it is not copied
        }
        const std::uint64_t last = std::min(first + kSectorSize, m_fileSize) - 1;
        if (!ranges.empty() && ranges.back().last + 1 == first) {
            ranges.back().last = last;
        } else {
            ranges.push_back({first, last});
        }
        ++m_report.filledSectors;
    }
}

// Reads `clusters` clusters that lie one after another on the disk, starting
// with cluster `index` of the chain, into the start of the buffer.
void CopyJob::ReadRun(const DriveItem& file, std::uint32_t index, std::uint32_t clusters) {
    const auto* chain = reinterpret_cast<const std::uint32_t*>(m_chain.Data());
    const SectorRun run{file, static_cast<std::uint32_t>(ClusterSector(file, chain[index])),
                        clusters * file.m_sectorsPerCluster};
    const auto bytes = static_cast<std::size_t>(SectorsToBytes(run.count));
    UnreadableSectors unreadable;
    unreadable.eachFailed = [&] { SectorFailed(m_report.filledSectors + unreadable.size()); };
    m_drives.ReadSectors(run, nullptr, m_buffer.Bytes().first(bytes), &unreadable);
    if (!unreadable.empty() && !m_drives.DiskAnswers(file.m_drive)) {
        m_sourceGone = true;
        return;
    }
    NoteFilled(file, index, unreadable);
}

// The bytes of cluster `index` of the chain. Clusters that follow one another on
// the disk are read ahead together, up to 256 KiB at a time: a read per cluster
// would cost more than the copying. A read of several clusters that fails
// outright is tried again for this cluster alone, so that every cluster before a
// broken one is still copied.
std::span<const std::uint8_t> CopyJob::Cluster(const DriveItem& file, std::uint32_t index,
                                               std::uint32_t needed) {
    const auto clusterBytes = static_cast<std::size_t>(SectorsToBytes(file.m_sectorsPerCluster));
    if (!InWindow(index)) {
        const auto* chain = reinterpret_cast<const std::uint32_t*>(m_chain.Data());
        const auto most = static_cast<std::uint32_t>(
            std::clamp<std::size_t>(kReadAhead / clusterBytes, 1, m_buffer.Size() / clusterBytes));
        std::uint32_t run = ContiguousClusters({chain, needed}, index, most);
        m_windowFirst = index;
        m_windowClusters = 0;
        try {
            ReadRun(file, index, run);
        } catch (...) {
            run = 1;
            ReadRun(file, index, run);
        }
        m_windowClusters = run;
    }
    return m_buffer.Bytes().subspan((index - m_windowFirst) * clusterBytes, clusterBytes);
}

void CopyJob::CopyLoop(const DriveItem& file, std::uint32_t count) {
    m_fileSize = file.m_fileSize;
    const std::uint64_t clusterBytes =
        std::uint64_t{file.m_bytesPerSector} * file.m_sectorsPerCluster;
    const auto wholeClusters =
        static_cast<std::uint32_t>(clusterBytes == 0 ? 0 : m_fileSize / clusterBytes);
    // The clusters the size takes: one more than the whole ones for a partial last one.
    const std::uint32_t needed =
        wholeClusters + (clusterBytes != 0 && m_fileSize % clusterBytes != 0 ? 1 : 0);
    m_bytesDone = 0;
    m_partStart = 0;
    m_windowFirst = 0;
    m_windowClusters = 0;
    for (std::uint32_t index = 0; index <= wholeClusters; ++index) {
        std::uint64_t n = clusterBytes;
        if (m_bytesDone + n > m_fileSize) {
            n = m_fileSize - m_bytesDone;
            if (n == 0) {
                break;
            }
        }
        // Checked before a new part is begun, so that no empty part is left behind.
        if (index >= count) {
            End(CopyOutcome::Failed, m_chainCut.empty() ? kChainTooShort : m_chainCut);
            return;
        }
        if (m_plan->split && m_bytesDone + n - m_partStart > kPartLimit && !StartNextPart()) {
            return;
        }
        // The output may still hold the buffer's bytes: hand them on before the
        // buffer is read into again.
        if (!InWindow(index) && !m_output->Flush()) {
            NoteWriteFailure(m_report.outputs.back().path, m_output->Failure());
            End(CopyOutcome::Failed, WriteFailedText());
            return;
        }
        std::span<const std::uint8_t> cluster;
        try {
            cluster = Cluster(file, index, std::min(count, needed));
        } catch (...) {
            End(CopyOutcome::Failed, Fatal("ReadSectors"));
            return;
        }
        if (m_progressFailure) {
            std::rethrow_exception(std::exchange(m_progressFailure, nullptr));
        }
        if (m_sourceGone) {
            End(CopyOutcome::Failed, SourceGoneText(file));
            return;
        }
        std::size_t written = 0;
        const bool complete = m_output->Write(cluster.first(static_cast<std::size_t>(n)), written);
        m_bytesDone += written;
        m_report.outputs.back().bytes += written;
        if (!complete) {
            NoteWriteFailure(m_report.outputs.back().path, m_output->Failure());
            End(CopyOutcome::Failed, WriteFailedText());
            return;
        }
        Step(m_bytesDone);
        if (m_stopRequested) {
            m_report.stopped = true;
            End(CopyOutcome::Failed);
            return;
        }
    }
    End(CopyOutcome::Copied);
}

}  // namespace moravel
