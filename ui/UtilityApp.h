#pragma once

#include "Frontend.h"
#include "disk/DriveAccess.h"

namespace moravel {

// The application: it makes the main window, runs it until it is closed, and ends.
class UtilityApp {
public:
    int Run(Frontend& frontend, DriveAccessOptions options);
};

}  // namespace moravel
