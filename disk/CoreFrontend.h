#pragma once

#include <string>

namespace moravel {

enum class MessageButtons { Ok, OkCancel };
enum class MessageIcon { None, Exclamation, Hand };
enum class MessageAnswer { Ok, Cancel };

// The part of the front end that the core (disk access, drive tree, copy) talks
// to. The core never prints: every message reaches the user through here.
class CoreFrontend {
public:
    virtual ~CoreFrontend() = default;

    // A modal message box; returns the button the user pressed.
    virtual MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                                      MessageButtons buttons, MessageIcon icon) = 0;

    // Queues the scan-progress notice for the main window; its handler reads the
    // percentage that the scan stored before posting.
    virtual void PostScanProgress() = 0;

    // Takes every waiting message off the queue and dispatches it, then returns:
    // long work calls this after each unit so the window stays alive. Any handler
    // may run in here, a new scan included.
    virtual void PumpMessages() = 0;
};

// The caption of the core's message boxes: the program file's name without its
// folder and extension.
std::string ApplicationTitle();

// A message box with OK, the exclamation icon and the application's title: how
// disk and tree code report a failure.
void ShowFailure(CoreFrontend& frontend, const std::string& text);

}  // namespace moravel
