#include "ItemDetails.h"

#include <array>
#include <string_view>

#include "disk/DiskLayout.h"
#include "disk/Sector.h"
#include "tree/BootSector.h"

namespace moravel::cli {

namespace {

constexpr std::uint32_t kFat32Mask = 0x0FFFFFFF;

}  // namespace

std::uint64_t ClusterLba(const DriveItem& item, std::uint32_t cluster) {
    return std::uint64_t{item.m_partitionStart} + ClusterSector(item, cluster);
}

FatCache::Key FatCache::KeyOf(const DriveItem& item) {
    return {item.m_drive, item.m_partitionStart, item.m_reservedSectors, item.m_sectorsPerFat};
}

FatCache::Outcome FatCache::Load(const DriveItem& item) {
    const Key key = KeyOf(item);
    if (m_failed.count(key) != 0) {
        return Outcome::FailedBefore;
    }
    std::shared_ptr<FatPages> pages = m_access.VolumeFat(item);
    if (!pages) {
        m_failed.insert(key);
        m_fat = FatImage{};
        return Outcome::Failed;
    }
    m_fatKind = item.m_fatKind;
    m_fat = FatImage(std::move(pages));
    return Outcome::Ready;
}

std::optional<ChainShape> FatCache::Measure(const DriveItem& item, std::size_t keepRuns) {
    ChainShape shape = MeasureChain(item.m_firstCluster, item.m_fatKind, m_fat, keepRuns);
    if (ChainRunsIntoLostSector(item.m_firstCluster, item.m_fatKind, shape.clusters, m_fat)) {
        m_failed.insert(KeyOf(item));
        return std::nullopt;
    }
    return shape;
}

std::uint64_t FatCache::Entries() const {
    const std::uint64_t bytes = m_fat.Size();
    return m_fatKind == FatKind::Fat12   ? bytes * 2 / 3
           : m_fatKind == FatKind::Fat16 ? bytes / 2
                                         : bytes / 4;
}

BootRead ReadVolumeDetails(DriveTree& access, const DriveItem& volume, VolumeDetails& details) {
    // A floppy may have been changed since it was last read: it is opened afresh,
    // as the drive tree does before it reads one.
    if (volume.m_drive < kFirstHardDisk && !access.ReopenFloppy(volume.m_drive)) {
        return BootRead::Unreadable;
    }
    std::array<std::uint8_t, kSectorSize> sector{};
    if (access.RawReadStart(volume, 1, sector) != RawRead::Ok) {
        return BootRead::Unreadable;
    }
    const BootSector decoded = DecodeBootSector(sector);
    const auto fatKind = ReadableFatKind(decoded);
    if (!fatKind) {
        return BootRead::NotFat;
    }
    details.sectors = decoded.TotalSectors();
    details.fatBits = FatBits(*fatKind);
    details.clusterBytes = static_cast<std::uint32_t>(SectorsToBytes(decoded.sectorsPerCluster));
    details.label = BootSectorLabel(sector, *fatKind, access.CodePage());
    return BootRead::Read;
}

}  // namespace moravel::cli
