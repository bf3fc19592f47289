#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "disk/DriveItem.h"

namespace moravel::cli {

// The item's display name (UTF-8, as every name of the tree).
std::string DisplayText(const DriveItem& item);

// A directory entry's name without a short name's padding: its long name, else
// its short name without the trailing blanks of both parts, and without the dot
// when the extension is empty ("VIDEO.MPG", "RECORDS"). Any other item's display
// name.
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
    // exactly that name; the first whose unpadded name or unpadded short name
    // (the 8.3 alias of a long name) it is; the same two without regard to case;
    // "#N", the N-th child counted from 1.
    std::optional<std::size_t> Find(std::string_view component) const;

    // The child a component that Find does not know may have meant: the first
    // whose name, without regard to case, blanks and dots, is the component's
    // or differs from it in a letter (two, for names longer than five) but not
    // in its digits.
    std::optional<std::size_t> Near(std::string_view component) const;

    // The component that selects exactly this child: its unpadded name when that
    // finds it, else its exact name when no sibling shares it, else "#N". A name
    // that is empty or holds a '/' cannot be a component.
    std::string PathComponent(std::size_t index) const;

private:
    std::vector<DriveItem*> m_items;
    std::vector<std::string> m_texts;
    std::vector<std::string> m_unpadded;
    // The first child by name: [0] display names, [1] unpadded and short names;
    // as they are, and case-folded.
    std::unordered_map<std::string, std::size_t> m_exact[2];
    std::unordered_map<std::string, std::size_t> m_folded[2];
    std::unordered_map<std::string, std::size_t> m_textCount;
};

// Joins a path and one more component.
std::string JoinPath(const std::string& path, const std::string& component);

}  // namespace moravel::cli
