#pragma once

#include <optional>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "Cli.h"
#include "Listing.h"
#include "tree/DriveTree.h"

namespace moravel::cli {

// What info says of a file's streams: label and text pairs, in order ("Container",
// "Duration", "Video", "Audio", ...), or why there is nothing to say; and the same
// as the JSON object "media". Reads a few MB at the file's start and end.
struct MediaLines {
    std::vector<std::pair<std::string, std::string>> fields;
    nlohmann::ordered_json json;
};
std::optional<MediaLines> DescribeMedia(DriveTree& access, const DriveItem& file);

// Runs "thumbnail TREEPATH OUT.png [--at 10%|SECONDS]": writes one picture of the
// recording as a PNG file (OUT.png.part until it is whole). Returns the exit status.
int RunThumbnail(const ThumbnailOptions& options, DriveTree& access, TreeWalker& walker,
                 std::ostream& out, std::ostream& err);

}  // namespace moravel::cli
