#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "disk/CoreFrontend.h"

namespace moravel {

// A front end without a screen: it records every message box and answers each
// from the answers a test queued (OK when none is queued).
class HeadlessFrontend : public CoreFrontend {
public:
    struct Message {
        std::string text;
        std::string caption;
        MessageButtons buttons;
        MessageIcon icon;
    };

    MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                              MessageButtons buttons, MessageIcon icon) override;

    void PostScanProgress() override;
    void PumpMessages() override;

    void QueueAnswer(MessageAnswer answer) { m_answers.push_back(answer); }
    // Runs as the handler of every scan-progress notice, during the pump step.
    void OnScanProgress(std::function<void()> handler) { m_onScanProgress = std::move(handler); }
    int ScanProgressPosts() const { return m_posts; }
    int PumpSteps() const { return m_pumps; }
    const std::vector<Message>& Messages() const { return m_messages; }
    // The texts of the messages shown so far, in order.
    std::vector<std::string> MessageTexts() const;

private:
    std::vector<Message> m_messages;
    std::deque<MessageAnswer> m_answers;
    std::function<void()> m_onScanProgress;
    int m_pendingPosts = 0;
    int m_posts = 0;
    int m_pumps = 0;
};

}  // namespace moravel
