// What the media reader takes for a recording and which pictures it decodes, on
// bytes in memory: streams that ffmpeg makes, and files that are no recording.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/MediaProbe.h"
#include "support/TempDir.h"
#include "support/Tools.h"

namespace moravel::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class MediaProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (FindTool("ffmpeg").empty()) {
            GTEST_SKIP() << "no ffmpeg (scripts/install-deps.sh installs it)";
        }
    }

    // The bytes of a file that ffmpeg makes from the arguments.
    std::vector<std::uint8_t> Made(const std::string& arguments, const std::string& name) {
        const std::string path = m_dir.File(name);
        int status = 0;
        const std::string output =
            RunCommand("ffmpeg -loglevel error " + arguments + " -y " + Quoted(path), status);
        EXPECT_EQ(status, 0) << arguments << "\n" << output;
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // A second of colour bars at the size, in H.264, as an MPEG transport stream.
    std::vector<std::uint8_t> H264At(const std::string& size) {
        return Made(
            "-f lavfi -i smptebars=d=1:r=5:s=" + size + " -c:v libx264 -preset ultrafast -f mpegts",
            size + ".ts");
    }

    TempDir m_dir;
};

// A look opens only what recordings come in. Text that describes a network
// stream (SDP) would have the libraries listen on UDP ports for packets from
// anyone; a picture file (PNG) or another container is no recording either.
TEST_F(MediaProbeTest, OpensOnlyTheContainersThatRecordingsComeIn) {
    const std::string sdp =
        "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=Recording\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n"
        "m=video 5004 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n";
    const struct {
        std::string name;
        std::vector<std::uint8_t> bytes;
        std::string looksLike;
    } refused[] = {
        {"SDP", {sdp.begin(), sdp.end()}, "it looks like SDP"},
        {"PNG", Made("-f lavfi -i smptebars=s=64x48 -frames:v 1 -c:v png -f image2", "bars.png"),
         "it looks like piped png sequence"},
        {"Matroska",
         Made("-f lavfi -i smptebars=d=1:s=64x48 -c:v mpeg2video -f matroska", "bars.mkv"),
         "it looks like Matroska / WebM"},
    };
    for (const auto& file : refused) {
        MemoryMediaSource source(file.bytes);
        const Result<MediaInfo> info = ProbeMedia(source);
        ASSERT_FALSE(info) << file.name << " was taken for " << info->containerName;
        EXPECT_THAT(info.error().reason, StartsWith("no stream that the libraries know"))
            << file.name;
        EXPECT_THAT(info.error().reason, HasSubstr(file.looksLike)) << file.name;
    }

    const std::string bars = "-f lavfi -i smptebars=d=1:s=64x48 -c:v mpeg2video";
    const std::vector<std::uint8_t> transport = Made(bars + " -f mpegts", "bars.ts");
    const std::vector<std::uint8_t> program = Made(bars + " -f vob", "bars.vob");
    for (const auto& [bytes, name] :
         {std::pair(&transport, "MPEG-TS"), std::pair(&program, "MPEG-PS")}) {
        MemoryMediaSource source(*bytes);
        const Result<MediaInfo> info = ProbeMedia(source);
        ASSERT_TRUE(info) << name << ": " << info.error().reason;
        EXPECT_THAT(info->containerName, StartsWith(name));
    }
}

// Every picture that broadcast carries (UHD, 3840x2160, the largest) decodes; a
// larger one is refused before it is decoded, whatever memory it would take. An
// MPEG-2 stream whose headers declare 16000x16000 (384 MB a frame): the look at
// the streams decodes none of it either, and says why.
TEST_F(MediaProbeTest, DecodesABroadcastPictureButNoLargerOne) {
    const std::vector<std::uint8_t> uhd = H264At("3840x2160");
    MemoryMediaSource uhdSource(uhd);
    const Result<VideoFrame> picture = DecodeFrameAt(uhdSource, 0);
    ASSERT_TRUE(picture) << picture.error().reason;
    EXPECT_EQ(picture->width, 3840);
    EXPECT_EQ(picture->height, 2160);

    const std::vector<std::uint8_t> large = H264At("5120x2880");
    MemoryMediaSource largeSource(large);
    const Result<MediaInfo> info = ProbeMedia(largeSource);
    ASSERT_TRUE(info) << info.error().reason;
    ASSERT_TRUE(info->video);
    EXPECT_EQ(info->video->width, 5120);
    const Result<VideoFrame> refused = DecodeFrameAt(largeSource, 0);
    ASSERT_FALSE(refused) << "a " << refused->width << "x" << refused->height << " picture";
    EXPECT_EQ(
        refused.error().reason,
        "its picture is 5120x2880, larger than any that broadcast carries (at most 4096x2304)");

    std::vector<std::uint8_t> bytes =
        Made("-f lavfi -i smptebars=d=1:s=320x240 -c:v mpeg2video -f mpegts", "bars.ts");
    // The sequence header's 12-bit width and height, and the top two bits of each
    // in its extension: 16000 is 0x3e80.
    int headers = 0;
    for (std::size_t i = 0; i + 7 < bytes.size(); ++i) {
        if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1) {
            continue;
        }
        if (bytes[i + 3] == 0xb3) {
            bytes[i + 4] = 0xe8;
            bytes[i + 5] = 0x0e;
            bytes[i + 6] = static_cast<std::uint8_t>((bytes[i + 6] & 0x0f) | 0x80);
            ++headers;
        } else if (bytes[i + 3] == 0xb5 && bytes[i + 4] >> 4 == 1) {
            bytes[i + 5] |= 0x01;
            bytes[i + 6] |= 0xe0;
        }
    }
    ASSERT_GT(headers, 0);
    MemoryMediaSource declaredSource(bytes);
    const Result<MediaInfo> declared = ProbeMedia(declaredSource);
    ASSERT_FALSE(declared) << "taken for " << declared->containerName;
    EXPECT_EQ(declared.error().reason,
              "no stream that the libraries know (no sound in it, and no picture of at most "
              "4096x2304)");
}

// A stretch of frames none of which stands on its own (a stream with one key
// frame at its start, looked into in the middle) is given up after a bound number
// of frames, not decoded up to the end of what a picture may read.
TEST_F(MediaProbeTest, GivesUpAPictureAfterABoundNumberOfFramesWithoutAKeyFrame) {
    const std::vector<std::uint8_t> bytes = Made(
        "-f lavfi -i testsrc=d=120:r=25:s=64x48 -c:v libx264 -preset ultrafast"
        " -x264-params keyint=infinite:scenecut=0 -f mpegts",
        "one-key-frame.ts");
    MemoryMediaSource source(bytes);
    const Result<VideoFrame> picture = DecodeFrameAt(source, 0.2);
    ASSERT_FALSE(picture) << "a picture at " << picture->seconds.value_or(-1) << " s";
    EXPECT_EQ(picture.error().reason,
              "no picture that stands on its own in the 500 frames from there");
}

// The recording's bytes, except those before `bad`: a read that touches them
// fails as a drive's would, and is counted.
class BadStartSource final : public MediaSource {
public:
    BadStartSource(std::span<const std::uint8_t> bytes, std::uint64_t bad)
        : m_bytes(bytes), m_bad(bad) {}
    std::uint64_t Size() const override { return m_bytes.Size(); }
    Result<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if (offset < m_bad) {
            ++failedReads;
            return Error{"a bad sector"};
        }
        return m_bytes.ReadAt(offset, out);
    }
    int failedReads = 0;

private:
    MemoryMediaSource m_bytes;
    std::uint64_t m_bad;
};

// A recording whose first 64 KiB cannot be read: its streams are found further
// on, for one failed read; its duration is that of what can be read (ffprobe on
// the bytes from there), and the picture halfway through it decodes.
TEST_F(MediaProbeTest, FindsTheStreamsPastAnUnreadableStart) {
    const std::vector<std::uint8_t> bytes = Made(
        "-f lavfi -i smptebars=d=6:s=320x240:r=25 -f lavfi -i sine=duration=6"
        " -c:v mpeg2video -b:v 12M -minrate 12M -maxrate 12M -bufsize 1835k -c:a mp2"
        " -f mpegts",
        "bars.ts");
    BadStartSource source(bytes, 64 * 1024);
    const Result<std::unique_ptr<MediaFile>> file = MediaFile::Open(source);
    ASSERT_TRUE(file) << file.error().reason;
    const Result<MediaInfo> info = (*file)->Describe();
    ASSERT_TRUE(info) << info.error().reason;
    EXPECT_EQ(source.failedReads, 1);
    ASSERT_TRUE(info->video && info->durationSeconds);
    EXPECT_EQ(info->video->width, 320);
    ASSERT_GE(info->streamsFrom, 64u * 1024);
    EXPECT_EQ(info->startFailure, "a bad sector");

    const std::string rest = m_dir.File("rest.ts");
    std::ofstream(rest, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data() + info->streamsFrom),
               static_cast<std::streamsize>(bytes.size() - info->streamsFrom));
    int status = 0;
    const double oracle = std::stod(RunCommand(
        "ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quoted(rest), status));
    EXPECT_NEAR(*info->durationSeconds, oracle, 0.1);

    const Result<VideoFrame> picture = (*file)->FrameAt(0.5);
    ASSERT_TRUE(picture) << picture.error().reason;
    EXPECT_EQ(picture->width, 320);
    ASSERT_TRUE(picture->seconds);
    EXPECT_NEAR(*picture->seconds, *info->durationSeconds / 2, 1);
    EXPECT_EQ(source.failedReads, 1);
}

}  // namespace
}  // namespace moravel::testing
