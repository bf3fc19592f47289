#include <algorithm>
#include <optional>
#include <utility>

#include "DriveAccess.h"
#include "Sector.h"

namespace moravel {

int ItemToChs(const DriveItem& item, ChsAddress& chs) {
    const std::uint32_t heads = item.m_heads;
    const std::uint32_t sectorsPerTrack = item.m_sectorsPerTrack;
    if (heads == 0 || sectorsPerTrack == 0) {
        return 1;  // no geometry: no cylinder/head/sector address exists
    }
    const std::uint32_t startCylinder =
        ((item.m_startSector & 0xC0u) << 2) | (item.m_startCylinder & 0xFFu);
    const std::uint32_t lba = (startCylinder * heads + item.m_startHead) * sectorsPerTrack +
                              item.m_relativeSector + (item.m_startSector & 0x3Fu) - 1;
    chs.m_sector = static_cast<std::uint16_t>(lba % sectorsPerTrack + 1);
    const std::uint32_t track = lba / sectorsPerTrack;
    const std::uint32_t cylinder = track / heads;
    chs.m_cylinder = static_cast<std::uint16_t>(cylinder);
    // The whole cylinder number decides: cut to 16 bits, a cylinder of 65536 or
    // more would pass for a small one and address the wrong sector.
    if (cylinder > 0x3FF) {
        return 1;
    }
    chs.m_head = static_cast<std::uint16_t>(track % heads);
    chs.m_cylinder = static_cast<std::uint16_t>(cylinder & 0xFF);
    chs.m_sector = static_cast<std::uint16_t>(chs.m_sector | ((cylinder >> 2) & 0xC0));
    return 0;
}

int DriveAccess::ReadSectors(const DriveItem& item, ChsAddress* chs,
                             std::span<std::uint8_t> buffer) {
    return ReadSectors(item, chs, buffer, nullptr);
}

int DriveAccess::ReadSectors(const DriveItem& item, ChsAddress* chs, std::span<std::uint8_t> buffer,
                             UnreadableSectors* unreadable) {
    const std::uint64_t bytes = SectorsToBytes(item.m_sectorCount);
    if (buffer.size() < bytes) {
        return 0;
    }
    const auto run = buffer.first(static_cast<std::size_t>(bytes));
    ChsAddress scratch;
    if (chs == nullptr) {
        chs = &scratch;
    }
    const RunRead result = ReadRun(item, *chs, run, unreadable);
    if (result == RunRead::Nothing && unreadable != nullptr) {
        // Nothing came in and nothing was retried (a one-sector run, a floppy that
        // cannot be opened): to a caller that goes on with the bytes, every sector
        // of the run is unreadable, and must not keep what the buffer held before.
        std::fill(run.begin(), run.end(), kUnreadableFill);
        for (std::uint32_t i = 0; i < item.m_sectorCount; ++i) {
            unreadable->push_back(i);
        }
    }
    return result == RunRead::Whole ? 1 : 0;
}

DriveAccess::RunRead DriveAccess::ReadRun(const DriveItem& item, ChsAddress& chs,
                                          std::span<std::uint8_t> run,
                                          UnreadableSectors* unreadable) {
    if (m_reader == nullptr) {
        return RunRead::Nothing;
    }
    RunRead result = RunRead::Whole;
    for (std::uint32_t done = 0; done < item.m_sectorCount;) {
        const std::optional<Request> request = m_reader->ReadRequest(item, done, chs, run);
        if (!request) {
            return RunRead::Nothing;
        }
        if (request->read < request->asked) {
            if (item.m_sectorCount == 1) {
                return RunRead::Nothing;
            }
            // Also for a one-sector request of a longer run: an unreadable sector
            // must never keep whatever the buffer held before.
            DriveItem first = item;
            first.m_relativeSector += done;
            RetrySectorBySector(
                first, &chs, request->asked,
                run.subspan(static_cast<std::size_t>(SectorsToBytes(done)),
                            static_cast<std::size_t>(SectorsToBytes(request->asked))),
                unreadable, done);
            result = RunRead::SectorBySector;
        }
        done += request->asked;
    }
    return result;
}

void DriveAccess::RetrySectorBySector(const DriveItem& first, ChsAddress* chs, std::uint32_t count,
                                      std::span<std::uint8_t> run, UnreadableSectors* unreadable,
                                      std::uint32_t firstIndex) {
    DriveItem single = first;
    single.m_sectorCount = 1;
    const std::optional<std::uint64_t> end = DiskBytes(first.m_drive);
    for (std::uint32_t i = 0; i < count; ++i) {
        single.m_relativeSector = first.m_relativeSector + i;
        const auto sector = run.subspan(static_cast<std::size_t>(SectorsToBytes(i)), kSectorSize);
        // A sector past the end of the disk cannot be read: asking for it would
        // only cost a request per sector of a run that may be gigabytes long.
        const bool pastEnd = end && SectorsToBytes(std::uint64_t{single.m_partitionStart} +
                                                   single.m_relativeSector) >= *end;
        if (pastEnd || ReadSectors(single, chs, sector) == 0) {
            std::fill(sector.begin(), sector.end(), kUnreadableFill);
            if (unreadable != nullptr) {
                unreadable->push_back(firstIndex + i);
            }
        }
    }
}

std::uint32_t DriveAccess::ReadSectorsOnce(const DriveItem& item, std::span<std::uint8_t> buffer) {
    const std::uint64_t bytes = SectorsToBytes(item.m_sectorCount);
    if (buffer.size() < bytes) {
        return 0;
    }
    const auto run = buffer.first(static_cast<std::size_t>(bytes));
    if (m_reader == nullptr) {
        return 0;
    }
    // Request by request, up to the first that does not come in whole.
    ChsAddress chs;
    std::uint32_t done = 0;
    while (done < item.m_sectorCount) {
        const std::optional<Request> request = m_reader->ReadRequest(item, done, chs, run);
        if (!request) {
            break;
        }
        done += request->read;
        if (request->read < request->asked) {
            break;
        }
    }
    return done;
}

int DriveAccess::ReadClusters(const std::uint32_t* clusters, const DriveItem& volume,
                              std::uint32_t count, std::span<std::uint8_t> buffer,
                              UnreadableSectors* unreadable) {
    DriveItem work = volume;
    work.m_sectorCount = volume.m_sectorsPerCluster;
    const auto clusterBytes = static_cast<std::size_t>(SectorsToBytes(volume.m_sectorsPerCluster));
    if (buffer.size() / std::max<std::size_t>(clusterBytes, 1) < count) {
        return 0;
    }
    int whole = 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        // Here the volume's data region begins at its own first sector.
        work.m_relativeSector = static_cast<std::uint32_t>(
            ClusterSector(volume.m_relativeSector, volume.m_sectorsPerCluster, clusters[i]));
        const auto place = buffer.subspan(i * clusterBytes, clusterBytes);
        if (unreadable == nullptr) {
            if (ReadSectors(work, &m_chs, place) == 0) {
                return 0;
            }
            continue;
        }
        UnreadableSectors inCluster;
        if (ReadSectors(work, &m_chs, place, &inCluster) == 0) {
            whole = 0;
        }
        for (const std::uint32_t sector : inCluster) {
            unreadable->push_back(i * volume.m_sectorsPerCluster + sector);
        }
    }
    return whole;
}

RawRead DriveAccess::RawReadItem(const DriveItem& item, std::span<std::uint8_t> buffer) {
    if (m_reader == nullptr) {
        return RawRead::DeviceReadShort;
    }
    return m_reader->ReadRaw(item, buffer);
}

}  // namespace moravel
