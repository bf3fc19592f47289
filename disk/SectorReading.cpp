#include <algorithm>
#include <optional>
#include <utility>

#include "DriveAccess.h"
#include "Sector.h"

namespace moravel {

bool ChsOf(const DriveItem& place, std::uint32_t sector, ChsAddress& chs) {
    const std::uint32_t heads = place.m_heads;
    const std::uint32_t sectorsPerTrack = place.m_sectorsPerTrack;
    if (heads == 0 || sectorsPerTrack == 0) {
        return false;  // no geometry: no cylinder/head/sector address exists
    }
    const std::uint32_t startCylinder =
        ((place.m_startSector & 0xC0u) << 2) | (place.m_startCylinder & 0xFFu);
    const std::uint32_t lba = (startCylinder * heads + place.m_startHead) * sectorsPerTrack +
                              sector + (place.m_startSector & 0x3Fu) - 1;
    chs.m_sector = static_cast<std::uint16_t>(lba % sectorsPerTrack + 1);
    const std::uint32_t track = lba / sectorsPerTrack;
    const std::uint32_t cylinder = track / heads;
    chs.m_cylinder = static_cast<std::uint16_t>(cylinder);
    // The whole cylinder number decides: cut to 16 bits, a cylinder of 65536 or
    // more would pass for a small one and address the wrong sector.
    if (cylinder > 0x3FF) {
        return false;
    }
    chs.m_head = static_cast<std::uint16_t>(track % heads);
    chs.m_cylinder = static_cast<std::uint16_t>(cylinder & 0xFF);
    chs.m_sector = static_cast<std::uint16_t>(chs.m_sector | ((cylinder >> 2) & 0xC0));
    return true;
}

bool DriveAccess::ReadSectors(SectorRun run, ChsAddress* chs, std::span<std::uint8_t> buffer) {
    return ReadSectors(run, chs, buffer, nullptr);
}

bool DriveAccess::ReadSectors(SectorRun run, ChsAddress* chs, std::span<std::uint8_t> buffer,
                              UnreadableSectors* unreadable) {
    const std::uint64_t bytes = SectorsToBytes(run.count);
    if (buffer.size() < bytes) {
        return false;
    }
    const auto into = buffer.first(static_cast<std::size_t>(bytes));
    ChsAddress scratch;
    if (chs == nullptr) {
        chs = &scratch;
    }
    const RunRead result = ReadRun(run, *chs, into, unreadable);
    if (result == RunRead::Nothing && unreadable != nullptr) {
        // Nothing came in and nothing was retried (a one-sector run, a floppy that
        // cannot be opened): to a caller that goes on with the bytes, every sector
        // of the run is unreadable, and must not keep what the buffer held before.
        std::fill(into.begin(), into.end(), kUnreadableFill);
        for (std::uint32_t i = 0; i < run.count; ++i) {
            unreadable->Note(i);
        }
    }
    return result == RunRead::Whole;
}

DriveAccess::RunRead DriveAccess::ReadRun(SectorRun run, ChsAddress& chs,
                                          std::span<std::uint8_t> into,
                                          UnreadableSectors* unreadable) {
    if (m_reader == nullptr || DiskGone(run.place->m_drive)) {
        return RunRead::Nothing;
    }
    RunRead result = RunRead::Whole;
    for (std::uint32_t done = 0; done < run.count;) {
        const std::optional<Request> request = m_reader->ReadRequest(run, done, chs, into);
        if (!request) {
            return RunRead::Nothing;
        }
        if (request->read > 0) {
            NoteRead(run.place->m_drive);
        }
        if (request->read < request->asked) {
            if (run.count == 1) {
                return RunRead::Nothing;
            }
            if (!DiskAnswers(run.place->m_drive)) {
                // Pulled out, or dead: each sector would be asked for in vain.
                FillRestUnreadable(into, done, run.count, unreadable);
                return RunRead::SectorBySector;
            }
            // Also for a one-sector request of a longer run: an unreadable sector
            // must never keep whatever the buffer held before.
            RetrySectorBySector(
                SectorRun{*run.place, run.first + done, request->asked}, &chs,
                into.subspan(static_cast<std::size_t>(SectorsToBytes(done)),
                             static_cast<std::size_t>(SectorsToBytes(request->asked))),
                unreadable, done);
            result = RunRead::SectorBySector;
        }
        done += request->asked;
    }
    return result;
}

void DriveAccess::FillRestUnreadable(std::span<std::uint8_t> into, std::uint32_t from,
                                     std::uint32_t count, UnreadableSectors* unreadable) {
    const auto rest = into.subspan(static_cast<std::size_t>(SectorsToBytes(from)),
                                   static_cast<std::size_t>(SectorsToBytes(count - from)));
    std::fill(rest.begin(), rest.end(), kUnreadableFill);
    for (std::uint32_t i = from; unreadable != nullptr && i < count; ++i) {
        unreadable->Note(i);
    }
}

void DriveAccess::RetrySectorBySector(SectorRun run, ChsAddress* chs, std::span<std::uint8_t> into,
                                      UnreadableSectors* unreadable, std::uint32_t firstIndex) {
    const DriveItem& place = *run.place;
    const std::optional<std::uint64_t> end = DiskBytes(place.m_drive);
    for (std::uint32_t i = 0; i < run.count; ++i) {
        const SectorRun single{place, run.first + i, 1};
        const auto sector = into.subspan(static_cast<std::size_t>(SectorsToBytes(i)), kSectorSize);
        // A sector past the end of the disk cannot be read: asking for it would
        // only cost a request per sector of a run that may be gigabytes long.
        const bool pastEnd =
            end && SectorsToBytes(std::uint64_t{place.m_partitionStart} + single.first) >= *end;
        if (pastEnd || !ReadSectors(single, chs, sector)) {
            std::fill(sector.begin(), sector.end(), kUnreadableFill);
            if (unreadable != nullptr) {
                unreadable->Note(firstIndex + i);
            }
            // A disk that went while its sectors are asked for one by one: the
            // rest would be asked in vain, a request each.
            if (!pastEnd && !DiskAnswers(place.m_drive)) {
                FillRestUnreadable(into, i + 1, run.count, nullptr);
                for (std::uint32_t j = i + 1; unreadable != nullptr && j < run.count; ++j) {
                    unreadable->Note(firstIndex + j);
                }
                return;
            }
        }
    }
}

std::uint32_t DriveAccess::ReadSectorsOnce(SectorRun run, std::span<std::uint8_t> buffer) {
    const std::uint64_t bytes = SectorsToBytes(run.count);
    if (buffer.size() < bytes) {
        return 0;
    }
    const auto into = buffer.first(static_cast<std::size_t>(bytes));
    if (m_reader == nullptr || DiskGone(run.place->m_drive)) {
        return 0;
    }
    // Request by request, up to the first that does not come in whole.
    ChsAddress chs;
    std::uint32_t done = 0;
    while (done < run.count) {
        const std::optional<Request> request = m_reader->ReadRequest(run, done, chs, into);
        if (!request) {
            break;
        }
        done += request->read;
        if (request->read > 0) {
            NoteRead(run.place->m_drive);
        }
        if (request->read < request->asked) {
            break;
        }
    }
    return done;
}

bool DriveAccess::ReadClusters(const std::uint32_t* clusters, const DriveItem& volume,
                               std::uint32_t count, std::span<std::uint8_t> buffer,
                               UnreadableSectors* unreadable) {
    const auto clusterBytes = static_cast<std::size_t>(SectorsToBytes(volume.m_sectorsPerCluster));
    if (buffer.size() / std::max<std::size_t>(clusterBytes, 1) < count) {
        return false;
    }
    bool whole = true;
    for (std::uint32_t i = 0; i < count; ++i) {
        // Here the volume's data region begins at its own first sector.
        const SectorRun cluster{
            volume,
            static_cast<std::uint32_t>(
                ClusterSector(volume.m_relativeSector, volume.m_sectorsPerCluster, clusters[i])),
            volume.m_sectorsPerCluster};
        const auto place = buffer.subspan(i * clusterBytes, clusterBytes);
        if (unreadable == nullptr) {
            if (!ReadSectors(cluster, &m_chs, place)) {
                return false;
            }
            continue;
        }
        UnreadableSectors inCluster;
        inCluster.eachFailed = unreadable->eachFailed;
        if (!ReadSectors(cluster, &m_chs, place, &inCluster)) {
            whole = false;
        }
        for (const std::uint32_t sector : inCluster) {
            unreadable->push_back(i * volume.m_sectorsPerCluster + sector);
        }
    }
    return whole;
}

RawRead DriveAccess::RawReadStart(const DriveItem& place, std::uint32_t count,
                                  std::span<std::uint8_t> buffer) {
    if (m_reader == nullptr || DiskGone(place.m_drive)) {
        return RawRead::DeviceReadShort;
    }
    return m_reader->ReadRaw(place, count, buffer);
}

}  // namespace moravel
