#include <cstdlib>

#include "FuzzHarness.h"
#include "media/MediaProbe.h"

namespace moravel::fuzz {

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

// A stream cut short, garbled or no stream at all: each look ends with what it
// found or why not, within its bounded reads.
int FuzzMediaProbe(const std::uint8_t* data, std::size_t size) {
    MemoryMediaSource source({data, size});
    const Result<MediaInfo> info = ProbeMedia(source);
    if (!info) {
        Require(!info.error().reason.empty());
    } else {
        Require(info->bytesRead <= kProbeHeadBytes + kProbeTailBytes + 2 * 64 * 1024);
        Require(!info->durationSeconds || *info->durationSeconds >= 0);
    }
    const Result<VideoFrame> frame = DecodeFrameAt(source, 0.5);
    if (frame) {
        Require(frame->width > 0 && frame->height > 0);
        Require(frame->rgb.size() == static_cast<std::size_t>(frame->width) *
                                         static_cast<std::size_t>(frame->height) * 3);
    } else {
        Require(!frame.error().reason.empty());
    }
    return 0;
}

}  // namespace moravel::fuzz
