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

}  // namespace moravel
