#include "FuzzHarness.h"
#include "FuzzSupport.h"
#include "media/MediaProbe.h"

namespace moravel::fuzz {

// A stream cut short, garbled or no stream at all: each look ends with what it
// found or why not, within its bounded reads.
int FuzzMediaProbe(const std::uint8_t* data, std::size_t size) {
    MemoryMediaSource source({data, size});
    const Result<MediaInfo> info = ProbeMedia(source);
    if (!info) {
        FUZZ_CHECK(!info.error().reason.empty(), "a probe failed without a reason");
    } else {
        // The start, and the later places when the start showed no stream.
        FUZZ_CHECK(info->bytesRead <=
                       (1 + kProbeLaterPlaces) * kProbeHeadBytes + kProbeTailBytes + 2 * 64 * 1024,
                   "the probe read " + std::to_string(info->bytesRead) + " bytes");
        FUZZ_CHECK(!info->durationSeconds || *info->durationSeconds >= 0, "a negative duration");
    }
    const Result<VideoFrame> frame = DecodeFrameAt(source, 0.5);
    if (frame) {
        FUZZ_CHECK(frame->width > 0 && frame->height > 0, "a picture without a size");
        FUZZ_CHECK(frame->width <= kMostPictureWidth && frame->height <= kMostPictureHeight,
                   "a picture of " + std::to_string(frame->width) + "x" +
                       std::to_string(frame->height) + " was decoded");
        FUZZ_CHECK(frame->rgb.size() == static_cast<std::size_t>(frame->width) *
                                            static_cast<std::size_t>(frame->height) * 3,
                   "a picture whose bytes are not its size");
    } else {
        FUZZ_CHECK(!frame.error().reason.empty(), "a decode failed without a reason");
    }
    return 0;
}

}  // namespace moravel::fuzz
