#pragma once

#include <deque>
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

    void QueueAnswer(MessageAnswer answer) { m_answers.push_back(answer); }
    const std::vector<Message>& Messages() const { return m_messages; }
    // The texts of the messages shown so far, in order.
    std::vector<std::string> MessageTexts() const;

private:
    std::vector<Message> m_messages;
    std::deque<MessageAnswer> m_answers;
};

}  // namespace moravel
