#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "disk/DriveItem.h"

namespace moravel::cli {

// The item's display name as UTF-8.
std::string DisplayText(const DriveItem& item);

// The display name without a short name's padding: a directory entry shown as
// 8 name bytes, '.', 3 extension bytes ("VIDEO   .MPG", "RECORDS .   ") loses the
// trailing blanks of both parts, and the dot when the extension is empty
// ("VIDEO.MPG", "RECORDS"). Any other name is returned as it is. UTF-8.
std::string UnpaddedText(const DriveItem& item);

// The components of a tree path: split at '/'; one leading and one trailing '/'
// are ignored, so "" and "/" both name the top level.
std::vector<std::string> SplitTreePath(std::string_view path);

// The children of one item (or the disks of the top level), with what it takes
// to pick one of them by a path component and to name each one in a path.
class Siblings {
public:
    explicit Siblings(std::vector<DriveItem*> items);

    const std::vector<DriveItem*>& Items() const { return m_items; }
    std::size_t Size() const { return m_items.size(); }
    DriveItem& operator[](std::size_t index) const { return *m_items[index]; }
    const std::string& Text(std::size_t index) const { return m_texts[index]; }

    // The child a path component selects, trying in order: the first child with
    // exactly that name; the first whose unpadded name it is; "#N", the N-th
    // child counted from 1.
    std::optional<std::size_t> Find(std::string_view component) const;

    // The component that selects exactly this child: its unpadded name when that
    // finds it, else its exact name when no sibling shares it, else "#N". A name
    // that is empty or holds a '/' cannot be a component.
    std::string PathComponent(std::size_t index) const;

private:
    std::vector<DriveItem*> m_items;
    std::vector<std::string> m_texts;
    std::vector<std::string> m_unpadded;
    std::unordered_map<std::string, std::size_t> m_firstByText;
    std::unordered_map<std::string, std::size_t> m_firstByUnpadded;
    std::unordered_map<std::string, std::size_t> m_textCount;
};

// Joins a path and one more component.
std::string JoinPath(const std::string& path, const std::string& component);

}  // namespace moravel::cli
