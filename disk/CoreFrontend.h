#pragma once

namespace moravel {

// The part of the front end that the core's long work (a directory scan, a FAT
// read) talks to while it runs, so that a window stays alive. The core never
// prints nor shows a message: what went wrong comes back in its results.
class CoreFrontend {
public:
    virtual ~CoreFrontend() = default;

    // Queues the scan-progress notice for the main window; its handler reads the
    // percentage that the scan stored before posting.
    virtual void PostScanProgress() = 0;

    // Takes every waiting message off the queue and dispatches it, then returns:
    // long work calls this after each unit so the window stays alive. Any handler
    // may run in here, a new scan included.
    virtual void PumpMessages() = 0;
};

}  // namespace moravel
