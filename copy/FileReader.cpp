#include "FileReader.h"

#include <algorithm>
#include <cstring>

#include "CopyJob.h"
#include "disk/Sector.h"
#include "tree/FatChain.h"

namespace moravel {

Result<FileChain, ChainFailure> LoadFileChain(DriveTree& drives, const DriveItem& file,
                                              const bool* stop) {
    if (!drives.FatFits(file)) {
        return ChainFailure::FatDoesNotFit;
    }
    const std::shared_ptr<FatPages> pages = drives.VolumeFat(file);
    const FatWalkStop walkStop(pages, stop);
    const FatImage fat(pages);
    FileChain chain;
    chain.count = drives.CountFatEntries(file.m_firstCluster, file.m_fatKind, fat);
    if (stop != nullptr && *stop) {
        return ChainFailure::Stopped;
    }
    if (pages->NothingRead()) {
        return ChainFailure::NothingRead;
    }
    chain.block = MemoryBlock::Allocate(std::size_t{chain.count} * sizeof(std::uint32_t));
    if (!chain.block) {
        return ChainFailure::NoMemory;
    }
    drives.StoreFatEntries(file.m_firstCluster, file.m_fatKind,
                           reinterpret_cast<std::uint32_t*>(chain.block.Data()), chain.count, fat);
    const std::span<const std::uint32_t> lostFat = fat.LostSectors();
    if (chain.count > 0 && EntryLost(lostFat, file.m_fatKind, chain.Clusters().back())) {
        std::uint32_t sector = EntrySector(file.m_fatKind, chain.Clusters().back());
        if (!std::binary_search(lostFat.begin(), lostFat.end(), sector)) {
            ++sector;  // a FAT12 entry whose other half was lost
        }
        chain.lostFatSector = sector;
    }
    return chain;
}

std::string ChainCutText(const DriveItem& file, const FileChain& chain) {
    const std::uint32_t sector = chain.lostFatSector.value_or(0);
    return "The file's cluster chain runs into " + FatSectorsText(file, std::span(&sector, 1)) +
           ", which could not be read from either copy: where it goes on after " +
           std::to_string(chain.count) + (chain.count == 1 ? " cluster" : " clusters") +
           " is not known.";
}

namespace {

// Where a run begins on the disk, in bytes.
std::uint64_t RunStart(const SectorRun& run) {
    return SectorsToBytes(std::uint64_t{run.place->m_partitionStart} + run.first);
}

}  // namespace

Result<std::unique_ptr<FileReader>> FileReader::Open(DriveTree& drives, const DriveItem& file) {
    return OpenWith(drives, file,
                    [&drives](const SectorRun& run, std::span<std::uint8_t> out,
                              UnreadableSectors& unreadable) -> Failure {
                        drives.ReadSectors(run, nullptr, out, &unreadable);
                        if (!unreadable.empty() && !drives.DiskAnswers(run.place->m_drive)) {
                            return Error{"the disk no longer answers"};
                        }
                        return std::nullopt;
                    });
}

Result<std::unique_ptr<FileReader>> FileReader::OpenWithoutRetries(DriveTree& drives,
                                                                   const DriveItem& file) {
    return OpenWith(drives, file,
                    [&drives](const SectorRun& run, std::span<std::uint8_t> out,
                              UnreadableSectors& unreadable) -> Failure {
                        const std::uint32_t got = drives.ReadSectorsOnce(run, out);
                        DriveAccess::FillRestUnreadable(out, got, run.count, &unreadable);
                        return std::nullopt;
                    });
}

Result<std::unique_ptr<FileReader>> FileReader::OpenAside(DriveTree& drives,
                                                          const DriveItem& file) {
    SectorSource::ReaderAside aside = drives.ReadAside(file.m_drive);
    if (!aside) {
        return Error{"this disk cannot be read beside the window's own reads"};
    }
    return OpenWith(drives, file,
                    [aside = std::move(aside)](const SectorRun& run, std::span<std::uint8_t> out,
                                               UnreadableSectors& unreadable) -> Failure {
                        const auto got =
                            static_cast<std::uint32_t>(aside(RunStart(run), out) / kSectorSize);
                        DriveAccess::FillRestUnreadable(out, got, run.count, &unreadable);
                        return std::nullopt;
                    });
}

Result<std::unique_ptr<FileReader>> FileReader::OpenAsideAsCopy(DriveTree& drives,
                                                                const DriveItem& file,
                                                                SectorSource::ReaderAside aside,
                                                                std::function<bool()> diskAnswers) {
    return OpenWith(drives, file,
                    [aside = std::move(aside), diskAnswers = std::move(diskAnswers)](
                        const SectorRun& run, std::span<std::uint8_t> out,
                        UnreadableSectors& unreadable) -> Failure {
                        const std::uint64_t start = RunStart(run);
                        auto sector = static_cast<std::uint32_t>(aside(start, out) / kSectorSize);
                        if (sector >= run.count) {
                            return std::nullopt;
                        }
                        const Error gone{"the disk no longer answers"};
                        if (!diskAnswers()) {
                            return gone;
                        }
                        for (; sector < run.count; ++sector) {
                            const auto bytes = out.subspan(sector * kSectorSize, kSectorSize);
                            if (aside(start + SectorsToBytes(sector), bytes) != kSectorSize) {
                                DriveAccess::FillRestUnreadable(bytes, 0, 1, nullptr);
                                unreadable.push_back(sector);
                            }
                        }
                        if (!unreadable.empty() && !diskAnswers()) {
                            return gone;
                        }
                        return std::nullopt;
                    });
}

Result<std::unique_ptr<FileReader>> FileReader::OpenWith(DriveTree& drives, const DriveItem& file,
                                                         RunReader readRun) {
    Result<FileChain, ChainFailure> chain = LoadFileChain(drives, file);
    if (!chain) {
        switch (chain.error()) {
            case ChainFailure::FatDoesNotFit:
                return Error{"its volume's FAT does not fit in the volume"};
            case ChainFailure::NothingRead:
                return Error{drives.DiskAnswers(file.m_drive)
                                 ? "the FAT could not be read where the file's chain runs"
                                 : "the disk no longer answers"};
            case ChainFailure::Stopped:
            case ChainFailure::NoMemory:
                break;
        }
        return Error{"not enough memory for its cluster chain"};
    }
    MemoryBlock window = MemoryBlock::Allocate(std::max<std::size_t>(
        kReadAhead, static_cast<std::size_t>(SectorsToBytes(file.m_sectorsPerCluster))));
    if (!window) {
        return Error{"not enough memory to read it"};
    }
    return std::unique_ptr<FileReader>(
        new FileReader(file, std::move(*chain), std::move(window), std::move(readRun)));
}

FileReader::FileReader(const DriveItem& file, FileChain chain, MemoryBlock window,
                       RunReader readRun)
    : m_readRun(std::move(readRun)),
      m_chain(std::move(chain)),
      m_window(std::move(window)),
      m_size(file.m_fileSize),
      m_clusterBytes(SectorsToBytes(file.m_sectorsPerCluster)) {
    CopyVolumeFields(file, m_file);
}

Failure FileReader::Fill(std::uint32_t index) {
    const std::span<const std::uint32_t> clusters = m_chain.Clusters();
    const auto most = static_cast<std::uint32_t>(m_window.Size() / m_clusterBytes);
    const std::uint32_t run = ContiguousClusters(clusters, index, most);
    m_windowClusters = 0;
    m_unreadable.clear();
    const SectorRun sectors{m_file,
                            static_cast<std::uint32_t>(ClusterSector(m_file, clusters[index])),
                            run * m_file.m_sectorsPerCluster};
    if (Failure failure = m_readRun(
            sectors, m_window.Bytes().first(static_cast<std::size_t>(run * m_clusterBytes)),
            m_unreadable)) {
        return failure;
    }
    m_windowFirst = index;
    m_windowClusters = run;
    return std::nullopt;
}

Result<FileReader::Piece> FileReader::Read(std::uint64_t offset, std::span<std::uint8_t> out) {
    Piece piece;
    const std::uint64_t end =
        offset >= m_size ? offset : offset + std::min<std::uint64_t>(out.size(), m_size - offset);
    while (offset < end) {
        const std::uint64_t index = offset / m_clusterBytes;
        if (index >= m_chain.count) {
            return Error{m_chain.lostFatSector ? ChainCutText(m_file, m_chain)
                                               : "its cluster chain ends before the file does"};
        }
        const auto cluster = static_cast<std::uint32_t>(index);
        if (!InWindow(cluster)) {
            if (Failure failure = Fill(cluster)) {
                return *failure;
            }
        }
        const std::uint64_t from =
            (cluster - m_windowFirst) * m_clusterBytes + offset % m_clusterBytes;
        const std::uint64_t length =
            std::min(end - offset, std::uint64_t{m_windowClusters} * m_clusterBytes - from);
        std::memcpy(out.data() + piece.bytes, m_window.Data() + from,
                    static_cast<std::size_t>(length));
        const std::uint64_t firstSector = from / kSectorSize;
        const std::uint64_t lastSector = (from + length - 1) / kSectorSize;
        piece.unreadable += static_cast<std::uint32_t>(std::count_if(
            m_unreadable.begin(), m_unreadable.end(),
            [&](std::uint32_t sector) { return sector >= firstSector && sector <= lastSector; }));
        piece.bytes += static_cast<std::size_t>(length);
        offset += length;
    }
    return piece;
}

}  // namespace moravel
