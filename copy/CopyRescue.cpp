// The copy job's rescue copy: the chain is loaded as for a normal copy, the
// outputs are opened to be written anywhere, and RescueEngine reads the
// recording in its passes, keeping its map beside the output.
#include <algorithm>
#include <cstdio>

#include "CopyJob.h"
#include "CopyTexts.h"
#include "PartNames.h"
#include "disk/Sector.h"

namespace moravel {

std::string MapPathBeside(const std::string& outputPath) {
    return PathWithSuffix(outputPath, ".moravel-map");
}

std::string CopyJob::MapPath() const {
    if (!m_rescue->mapPath.empty()) {
        return m_rescue->mapPath;
    }
    return MapPathBeside(m_plan->path);
}

Result<RescueMapFile> ReadRescueMap(CopyTarget& target, const std::string& path) {
    // A map is small (a line per range); one larger than this is no map of ours.
    constexpr std::uint64_t kMaxMapBytes = 256u << 20;
    const Result<std::uint64_t> bytes = target.SizeOf(path);
    if (!bytes) {
        return bytes.error();
    }
    if (*bytes > kMaxMapBytes) {
        return Error{"it is too large to be a map"};
    }
    const Result<std::string> text = target.ReadAll(path);
    if (!text) {
        return text.error();
    }
    return ParseRescueMap(*text);
}

// The map of an earlier run, when there is one and it is this recording's; else a
// new one. False (the job ended, saying why) for a map that cannot be used.
bool CopyJob::LoadRescueState(const DriveItem& file, std::uint32_t needed, RescueMapFile& state) {
    const auto* chain = reinterpret_cast<const std::uint32_t*>(m_chain.Data());
    RescueSource source;
    const std::optional<std::string> path = m_drives.SourcePath(file.m_drive);
    char drive[8];
    std::snprintf(drive, sizeof drive, "0x%02X", static_cast<unsigned>(file.m_drive));
    source.disk = std::string("drive ") + drive + (path ? " (" + *path + ")" : "");
    source.volumeStart = file.m_partitionStart;
    source.firstCluster = file.m_firstCluster;
    source.size = file.m_fileSize;
    source.chainHash = ChainHash(chain, needed);

    const std::string mapPath = MapPath();
    if (!m_target.Exists(mapPath)) {
        state = RescueMapFile{source, RescuePass::Copy, 0, 0, RescueMap(source.size), {}};
        return true;
    }
    Result<RescueMapFile> loaded = ReadRescueMap(m_target, mapPath);
    if (loaded) {
        if (std::optional<std::string> mismatch = RescueSourceMismatch(loaded->source, source)) {
            loaded = Error{std::move(*mismatch)};
        }
    }
    if (!loaded) {
        End(CopyOutcome::Failed,
            "The rescue map " + mapPath + " cannot be used: " + loaded.error().reason + ".");
        return false;
    }
    state = std::move(*loaded);
    state.source.disk = source.disk;
    // Every pass of the earlier run ended: its outputs have their final names.
    m_rescuePublished = state.pass == RescuePass::Done;
    // Asked for more retries than the finished run made: the bad sectors again.
    if (state.pass == RescuePass::Done && state.retriesDone < m_rescue->retries) {
        state.pass = RescuePass::Retry;
        state.position = 0;
    }
    return true;
}

bool CopyJob::OpenParts(bool fresh) {
    std::uint64_t first = 0;
    for (const PlannedOutput& output : m_plan->outputs) {
        const std::string& final = output.path;
        // Until every pass has ended, an output carries its working name: a file
        // with holes must not look like the recording.
        const std::string path = m_rescuePublished ? final : WorkingPath(final);
        // Going on from a map, the outputs must be the ones it was kept for: a
        // missing or different file would pass its holes off as copied bytes.
        const Result<std::uint64_t> kept =
            fresh ? Result<std::uint64_t>(output.size) : m_target.SizeOf(path);
        if (!kept || *kept != output.size) {
            End(CopyOutcome::Failed, "The rescue map " + MapPath() + " cannot be used: " + path +
                                         " is missing or has another size than when it was "
                                         "kept. Remove the map to begin anew.");
            return false;
        }
        const std::optional<std::string> refusal = m_target.Refusal(final);
        Result<std::unique_ptr<PositionedFile>> opened =
            refusal ? Error{*refusal} : m_target.OpenPositioned(path);
        if (!opened) {
            m_uncreated = path + ": " + opened.error().reason;
            return false;
        }
        std::unique_ptr<PositionedFile> file = std::move(*opened);
        // A rescue that begins anew keeps nothing of a file that was there: what it
        // has not read yet must not pass for the recording.
        if ((fresh && !file->SetSize(0)) || !file->SetSize(output.size)) {
            m_uncreated = path + ": its size could not be set";
            return false;
        }
        if (m_modified) {
            file->KeepModified(*m_modified);
        }
        m_report.outputs.push_back({path, 0});
        if (!m_rescuePublished) {
            m_unpublished.push_back(final);
        }
        m_parts.push_back({first, output.size, std::move(file)});
        first += output.size;
    }
    return true;
}

bool CopyJob::WriteParts(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const auto part = std::prev(
            std::upper_bound(m_parts.begin(), m_parts.end(), offset,
                             [](std::uint64_t at, const Part& p) { return at < p.first; }));
        const std::uint64_t within = offset - part->first;
        if (within >= part->size) {
            return false;
        }
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), part->size - within));
        if (!part->file->WriteAt(within, bytes.first(n))) {
            const auto index = static_cast<std::size_t>(part - m_parts.begin());
            NoteWriteFailure(m_report.outputs[index].path, part->file->Failure());
            return false;
        }
        bytes = bytes.subspan(n);
        offset += n;
    }
    return true;
}

// The outputs are synced first: the map must never call bytes copied that a
// pulled plug would take back. The map is written under its working name and put
// in its place in one step: a run that ends anyhow leaves the old map or the new
// one, never half of one.
bool CopyJob::SaveMap(const RescueMapFile& state) {
    for (Part& part : m_parts) {
        if (!part.file->Sync()) {
            return false;
        }
    }
    const std::string text = FormatRescueMap(state);
    return !WriteWholeFile(m_target, MapPath(),
                           {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

bool CopyJob::CloseParts(bool whole) {
    bool closed = true;
    for (Part& part : m_parts) {
        closed = (!whole || part.file->Sync()) && closed;
        closed = part.file->Close() && closed;
    }
    m_parts.clear();
    return closed;
}

void CopyJob::RescueClusters(const DriveItem& source) {
    std::uint32_t count = 0;
    if (!LoadChain(source, count)) {
        return;
    }
    const std::uint64_t clusterBytes = SectorsToBytes(source.m_sectorsPerCluster);
    const std::uint64_t size = source.m_fileSize;
    const auto needed = static_cast<std::uint32_t>((size + clusterBytes - 1) / clusterBytes);
    if (count < needed) {
        // Nothing is written: where the missing clusters' bytes would come from
        // cannot be told.
        End(CopyOutcome::Failed, m_chainCut.empty() ? kChainTooShort : m_chainCut);
        return;
    }
    RescueMapFile state;
    if (!LoadRescueState(source, needed, state)) {
        return;
    }
    state.reads = m_drives.BypassCache(source.m_drive);
    const bool fresh =
        state.pass == RescuePass::Copy && state.map.Bytes(RescueState::Untried) == size;
    if (!OpenParts(fresh)) {
        if (m_report.outcome == CopyOutcome::NotStarted) {
            End(CopyOutcome::Failed, CannotCreateText(), Error::Weight::Stop);
        }
        return;
    }
    m_fileSize = size;
    m_progress->Began(size);

    RescueEngine::Hooks hooks;
    hooks.clock = SteadySecondsNow;
    hooks.write = [this](std::uint64_t offset, std::span<const std::uint8_t> bytes) {
        return WriteParts(offset, bytes);
    };
    hooks.saveMap = [this](const RescueMapFile& current) { return SaveMap(current); };
    hooks.progress = [this](const RescueProgress& progress) {
        m_progress->Rescued(progress);
        if (m_progress->StopRequested()) {
            m_stopRequested = true;
        }
    };
    hooks.stopRequested = [this] { return m_stopRequested; };
    const auto* chain = reinterpret_cast<const std::uint32_t*>(m_chain.Data());
    RescueEngine engine(m_drives, source, {chain, needed}, state, m_rescue->retries,
                        m_buffer.Bytes(), std::move(hooks));
    EndRescue(engine.Run(), state, source);
}

void CopyJob::EndRescue(RescueEngine::Result result, const RescueMapFile& state,
                        const DriveItem& source) {
    for (const RescueRange& range : state.map.Ranges()) {
        if (range.state == RescueState::Bad) {
            m_report.filledRanges.push_back({range.first, range.end - 1});
        }
        // What each output holds of the recording: its bytes read, not its size.
        if (range.state == RescueState::Copied) {
            for (std::size_t i = 0; i < m_parts.size(); ++i) {
                const std::uint64_t first = std::max(range.first, m_parts[i].first);
                const std::uint64_t end = std::min(range.end, m_parts[i].first + m_parts[i].size);
                m_report.outputs[i].bytes += end > first ? end - first : 0;
            }
        }
    }
    m_bytesDone = state.map.Size();
    switch (result) {
        case RescueEngine::Result::Done:
            End(CopyOutcome::Copied);
            break;
        case RescueEngine::Result::Stopped:
            m_report.stopped = true;
            End(CopyOutcome::Failed);
            break;
        case RescueEngine::Result::WriteFailed:
            End(CopyOutcome::Failed, WriteFailedText());
            break;
        case RescueEngine::Result::MapNotSaved:
            End(CopyOutcome::Failed, "The rescue map " + MapPath() + " could not be written.");
            break;
        case RescueEngine::Result::SourceGone:
            End(CopyOutcome::Failed,
                SourceGoneText(source) + "\nThe rescue map " + MapPath() +
                    " keeps what was not read yet: run the same copy again when the disk is "
                    "back.");
            break;
    }
}

}  // namespace moravel
