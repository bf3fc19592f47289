#include "CliMedia.h"

namespace moravel::cli {

// The Windows build has no FFmpeg libraries: info says nothing of streams.
std::optional<MediaLines> DescribeMedia(DriveTree& /*access*/, const DriveItem& /*file*/) {
    return std::nullopt;
}

int RunThumbnail(const ThumbnailOptions& /*options*/, DriveTree& /*access*/, TreeWalker& /*walker*/,
                 std::ostream& /*out*/, std::ostream& err) {
    err << kProgram << ": thumbnail is not available on Windows: it needs FFmpeg's libraries\n";
    return kExitUsage;
}

}  // namespace moravel::cli
