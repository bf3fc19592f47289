#include "DriveItem.h"

#include <algorithm>

namespace moravel {

ChildList::~ChildList() = default;

void ChildList::Append(std::unique_ptr<DriveItem> item) {
    m_items.push_back(std::move(item));
}

std::vector<DriveItem*> ChildList::Pointers() const {
    std::vector<DriveItem*> pointers;
    pointers.reserve(m_items.size());
    for (const auto& item : m_items) {
        pointers.push_back(item.get());
    }
    return pointers;
}

void DriveItem::StoreName(NameField& field, std::string_view name) {
    // A name ends at a 0 byte, as it always did on the disk's side.
    name = name.substr(0, name.find('\0'));
    std::size_t length = std::min(name.size(), kMaxNameBytes);
    // Back to the start of the character the cut would fall in.
    while (length < name.size() && length > 0 &&
           (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) {
        --length;
    }
    field.assign(name.substr(0, length));
}

void CopyVolumeFields(const DriveItem& from, DriveItem& to) {
    to.m_drive = from.m_drive;
    to.m_startCylinder = from.m_startCylinder;
    to.m_startHead = from.m_startHead;
    to.m_startSector = from.m_startSector;
    to.m_useExtensions = from.m_useExtensions;
    to.m_heads = from.m_heads;
    to.m_sectorsPerTrack = from.m_sectorsPerTrack;
    to.m_sectorsPerCluster = from.m_sectorsPerCluster;
    to.m_bytesPerSector = from.m_bytesPerSector;
    to.m_reservedSectors = from.m_reservedSectors;
    to.m_dataStart = from.m_dataStart;
    to.m_sectorsPerFat = from.m_sectorsPerFat;
    to.m_fatKind = from.m_fatKind;
    to.m_totalSectors = from.m_totalSectors;
    to.m_partitionStart = from.m_partitionStart;
}

}  // namespace moravel
