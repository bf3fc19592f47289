#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MediaSource.h"
#include "disk/Result.h"

namespace moravel {

// What a recording holds, as far as a look at its start and its end tells.
struct MediaInfo {
    std::string container;      // the demuxer's name: "mpegts", "mpeg"
    std::string containerName;  // in words: "MPEG-TS (MPEG-2 Transport Stream)"
    // The first and last timestamps of its streams, in seconds of the stream's
    // clock, and the time between them: nothing when it carries none.
    std::optional<double> firstSeconds;
    std::optional<double> lastSeconds;
    std::optional<double> durationSeconds;
    struct Video {
        std::string codec;  // "h264", "mpeg2video"
        int width = 0;
        int height = 0;
        double frameRate = 0;  // frames per second; 0 when not known
    };
    std::optional<Video> video;  // the first video stream
    struct Audio {
        std::string codec;  // "mp2", "ac3", "aac"
        int channels = 0;
        int sampleRate = 0;
        std::string language;  // as the stream names it ("deu"); may be empty
    };
    std::vector<Audio> audio;
    std::uint64_t bytesRead = 0;  // what the look took from the source
    // Where the streams were found: 0, or a later place when the start could not
    // be read or showed none (startFailure says why); the timestamps above are
    // then those from there on.
    std::uint64_t streamsFrom = 0;
    std::string startFailure;
};

// How much of a recording's start and of its end a probe reads at most.
inline constexpr std::uint64_t kProbeHeadBytes = 6 * 1024 * 1024;
inline constexpr std::uint64_t kProbeTailBytes = 4 * 1024 * 1024;
// How many later places are looked at for the streams when the start cannot be
// read or shows none.
inline constexpr std::size_t kProbeLaterPlaces = 8;

// The functions of this header that read or decode live in the media module
// (moravel-media.so, with FFmpeg's libraries behind it): the programs reach them
// through MediaModule (MediaModule.h), which they load only to look into a
// recording; the tests and the fuzz harness link them directly.

// Looks at the start of the recording for its streams and at its end for its
// last timestamps; never reads more than kProbeHeadBytes + kProbeTailBytes (and
// FFmpeg's buffer) when its start shows the streams. A start that cannot be read
// or shows none is followed by looks at up to kProbeLaterPlaces later places
// (kProbeHeadBytes at most each, ending at the first read that fails). The error, the start's, says
// why it is no stream the libraries know, or why it could not be read.
Result<MediaInfo> ProbeMedia(MediaSource& source);

// The largest picture decoded: every picture broadcast carries fits (UHD,
// 3840x2160; DCI 4K, 4096x2160; both as coded, in whole macroblocks). A larger
// one is no recording's, and would cost hundreds of MB a frame.
inline constexpr int kMostPictureWidth = 4096;
inline constexpr int kMostPictureHeight = 2304;

// One picture, 8-bit RGB, row after row.
struct VideoFrame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    std::optional<double> seconds;  // its timestamp, from the first of the recording
};

// The first picture that decodes whole at or after `fraction` (0 to 1) of the
// recording's bytes from where its streams were found (its start, unless that
// could not be read); reads at most a few MB from there.
Result<VideoFrame> DecodeFrameAt(MediaSource& source, double fraction);

// A recording opened once, for a look at it and then pictures from it: its
// start is read once, when it is opened, and each picture only from its place.
class MediaFile {
public:
    // Reads the start for the streams (at most kProbeHeadBytes and FFmpeg's
    // buffer), or later places as ProbeMedia does; the error says why it is no
    // stream the libraries know, or why it could not be read.
    static Result<std::unique_ptr<MediaFile>> Open(MediaSource& source);
    MediaFile() = default;
    virtual ~MediaFile() = default;
    MediaFile(const MediaFile&) = delete;
    MediaFile& operator=(const MediaFile&) = delete;

    // What the streams hold, with the last timestamps from the end (at most
    // kProbeTailBytes more).
    virtual Result<MediaInfo> Describe() = 0;
    // As DecodeFrameAt. A place that could not be read does not spoil the next.
    virtual Result<VideoFrame> FrameAt(double fraction) = 0;
};

// The frame as a PNG file's bytes.
Result<std::vector<std::uint8_t>> EncodePng(const VideoFrame& frame);

}  // namespace moravel
