#pragma once

#include <string>
#include <utility>
#include <vector>

#include "MediaProbe.h"

namespace moravel {

// "1:02:03.45" (hours only when there are any).
std::string MediaClockText(double seconds);

// What a look at a recording found, as label and text pairs in order:
// "Container", "Start" (only when the start could not be read or showed no
// streams), "Duration", "Timestamps", "Video", then "Audio" once per track.
// The texts are as the streams name things (a language may hold any byte).
std::vector<std::pair<std::string, std::string>> MediaFields(const MediaInfo& info);

}  // namespace moravel
