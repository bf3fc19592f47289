#include "TreePath.h"

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
