#include "TreePath.h"

#include <algorithm>
#include <iterator>

#include "tree/NameText.h"

namespace moravel::cli {

namespace {

bool UsableComponent(const std::string& text) {
    return !text.empty() && text.find('/') == std::string::npos;
}

// The N of "#N" when the component has that form and N counts a child.
std::optional<std::size_t> ChildNumber(std::string_view component, std::size_t children) {
    if (component.size() < 2 || component.size() > 12 || component[0] != '#') {
        return std::nullopt;
    }
    std::size_t number = 0;
    for (const char ch : component.substr(1)) {
        if (ch < '0' || ch > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<std::size_t>(ch - '0');
    }
    if (number == 0 || number > children) {
        return std::nullopt;
    }
    return number;
}

// A name as Near compares it: case-folded, without blanks and dots.
std::string LooseKey(std::string_view name) {
    std::string key = FoldCase(name);
    std::erase_if(key, [](char ch) { return ch == ' ' || ch == '.'; });
    return key;
}

// Its digits: names a letter apart are near, but not those numbered apart
// ("Hard Disk 2", "NEWS0618.TS" are others than "Hard Disk 1", "NEWS0518.TS").
std::string Digits(std::string_view key) {
    std::string digits;
    std::copy_if(key.begin(), key.end(), std::back_inserter(digits),
                 [](char ch) { return ch >= '0' && ch <= '9'; });
    return digits;
}

// Whether the two differ by at most `most` letters put in, left out or changed
// (names are at most 255 bytes: one row of the table at a time is enough).
bool WithinEdits(const std::string& a, const std::string& b, std::size_t most) {
    const std::size_t apart = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
    if (apart > most) {
        return false;
    }
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()] <= most;
}

}  // namespace

std::string DisplayText(const DriveItem& item) {
    return std::string(item.DisplayName());
}

std::string UnpaddedText(const DriveItem& item) {
    return std::string(item.m_kind == ItemKind::Entry ? item.EntryName() : item.DisplayName());
}

std::vector<std::string> SplitTreePath(std::string_view path) {
    if (!path.empty() && path.front() == '/') {
        path.remove_prefix(1);
    }
    if (!path.empty() && path.back() == '/') {
        path.remove_suffix(1);
    }
    std::vector<std::string> components;
    if (path.empty()) {
        return components;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = path.find('/', start);
        components.emplace_back(path.substr(start, slash - start));
        if (slash == std::string_view::npos) {
            break;
        }
        start = slash + 1;
    }
    return components;
}

Siblings::Siblings(std::vector<DriveItem*> items) : m_items(std::move(items)) {
    m_texts.reserve(m_items.size());
    m_unpadded.reserve(m_items.size());
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        const DriveItem& item = *m_items[i];
        m_texts.push_back(DisplayText(item));
        m_unpadded.push_back(UnpaddedText(item));
        const std::string shortName(item.ShortName());
        m_exact[0].try_emplace(m_texts[i], i);
        m_exact[1].try_emplace(m_unpadded[i], i);
        m_folded[0].try_emplace(FoldCase(m_texts[i]), i);
        m_folded[1].try_emplace(FoldCase(m_unpadded[i]), i);
        if (!shortName.empty()) {
            m_exact[1].try_emplace(shortName, i);
            m_folded[1].try_emplace(FoldCase(shortName), i);
        }
        ++m_textCount[m_texts[i]];
    }
}

std::optional<std::size_t> Siblings::Find(std::string_view component) const {
    const std::string key(component);
    const std::string folded = FoldCase(component);
    for (const auto* names : {&m_exact[0], &m_exact[1]}) {
        if (const auto found = names->find(key); found != names->end()) {
            return found->second;
        }
    }
    for (const auto* names : {&m_folded[0], &m_folded[1]}) {
        if (const auto found = names->find(folded); found != names->end()) {
            return found->second;
        }
    }
    if (const auto number = ChildNumber(component, m_items.size())) {
        return *number - 1;
    }
    return std::nullopt;
}

std::optional<std::size_t> Siblings::Near(std::string_view component) const {
    const std::string key = LooseKey(component);
    if (key.empty()) {
        return std::nullopt;
    }
    // The same name first, then one that differs a little.
    const auto near = [&key](const std::string& name, std::size_t most) {
        const std::string other = LooseKey(name);
        return Digits(other) == Digits(key) && WithinEdits(key, other, most);
    };
    for (const std::size_t most : {std::size_t{0}, std::size_t{key.size() > 5 ? 2u : 1u}}) {
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            if (near(m_unpadded[i], most) || near(m_texts[i], most)) {
                return i;
            }
        }
    }
    return std::nullopt;
}

std::string Siblings::PathComponent(std::size_t index) const {
    const std::string& unpadded = m_unpadded[index];
    if (UsableComponent(unpadded) && Find(unpadded) == index) {
        return unpadded;
    }
    const std::string& text = m_texts[index];
    if (UsableComponent(text) && m_textCount.at(text) == 1) {
        return text;
    }
    // Should a sibling be named "#N" itself, this component finds that one
    // instead; no other component is left to offer then.
    return "#" + std::to_string(index + 1);
}

std::string JoinPath(const std::string& path, const std::string& component) {
    return path.empty() ? component : path + "/" + component;
}

}  // namespace moravel::cli
