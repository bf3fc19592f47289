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

std::string_view DriveItem::NameText(const NameField& field) {
    const auto end = std::find(field.begin(), field.end(), '\0');
    return {field.data(), static_cast<std::size_t>(end - field.begin())};
}

void DriveItem::StoreName(NameField& field, std::string_view name) {
    field.fill('\0');
    const std::size_t length = std::min(name.size(), field.size() - 1);
    std::copy_n(name.begin(), length, field.begin());
}

}  // namespace moravel
