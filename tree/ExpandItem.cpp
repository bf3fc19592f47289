#include "DriveTree.h"

namespace moravel {

DriveTree::~DriveTree() = default;

Errors DriveTree::Open() {
    m_partitionScan.Clear();
    m_fats.clear();
    return DriveAccess::Open();
}

void DriveTree::Close() {
    m_partitionScan.Clear();
    m_fats.clear();
    DriveAccess::Close();
}

Expansion DriveTree::ExpandItem(DriveItem& item, std::int32_t& progress, bool sizesLater) {
    progress = 0;
    if (item.m_expanded == 1) {
        Errors errors;
        if (!sizesLater) {
            errors = MeasureSizes(item, progress);
        }
        return {item.m_children.Pointers(), std::move(errors)};
    }
    // Set before any read: a failed expansion is not tried again, and a request
    // for this item from inside its own scan gets the children found so far.
    item.m_expanded = 1;
    Errors errors;
    switch (item.m_kind) {
        case ItemKind::Disk:
        case ItemKind::Extended:
            ExpandPartitionTable(item, errors);
            break;
        case ItemKind::Volume:
            ExpandVolume(item, errors);
            break;
        case ItemKind::RootDirectory:
            ExpandFixedRoot(item, errors);
            break;
        case ItemKind::Entry:
            if (item.IsDirectory()) {
                ExpandChainDirectory(item, progress, errors, sizesLater);
            }
            break;
        default:
            break;  // FAT copies and unknown partitions have no children
    }
    return {item.m_children.Pointers(), std::move(errors)};
}

}  // namespace moravel
