#include "HeadlessFrontend.h"

namespace moravel {

MessageAnswer HeadlessFrontend::ShowMessage(const std::string& text, const std::string& caption,
                                            MessageButtons buttons, MessageIcon icon) {
    m_messages.push_back({text, caption, buttons, icon});
    if (m_answers.empty()) {
        return MessageAnswer::Ok;
    }
    const MessageAnswer answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void HeadlessFrontend::PostScanProgress() {
    ++m_posts;
    ++m_pendingPosts;
}

void HeadlessFrontend::PumpMessages() {
    ++m_pumps;
    while (m_pendingPosts > 0) {
        --m_pendingPosts;
        if (m_onScanProgress) {
            m_onScanProgress();
        }
    }
}

std::vector<std::string> HeadlessFrontend::MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& message : m_messages) {
        texts.push_back(message.text);
    }
    return texts;
}

}  // namespace moravel
