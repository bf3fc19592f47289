#pragma once

#include <string>

#include "copy/RescueEngine.h"

namespace moravel {

// "Trim pass  812.4 MB rescued  1.0 MB bad  37.5 MB/s  last good read 0:02 ago  pass ETA 3:15"
std::string RescueProgressText(const RescueProgress& progress);

}  // namespace moravel
