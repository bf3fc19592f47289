#include "HeldOutputFile.h"

namespace moravel {

bool HeldOutputFile::Write(std::span<const std::uint8_t> bytes, std::size_t& written) {
    written = 0;
    const bool joins = !m_held.empty() && bytes.data() == m_held.data() + m_held.size() &&
                       m_held.size() + bytes.size() <= kWriteBehind;
    if (joins) {
        m_held = {m_held.data(), m_held.size() + bytes.size()};
    } else {
        if (!Flush()) {
            return false;
        }
        m_held = bytes;
    }
    written = bytes.size();
    return true;
}

bool HeldOutputFile::Flush() {
    std::size_t done = 0;
    while (done < m_held.size()) {
        const std::optional<std::size_t> wrote = WriteSome(m_held.subspan(done), m_failure);
        if (!wrote) {
            m_written += done;
            m_held = {};
            return false;
        }
        done += *wrote;
    }
    m_written += m_held.size();
    m_held = {};
    return true;
}

}  // namespace moravel
