#include "CliMedia.h"

#include <filesystem>
#include <fstream>

#include "TerminalText.h"
#include "copy/FileReader.h"
#include "media/MediaProbe.h"
#include "media/MediaText.h"

namespace moravel::cli {

namespace {

MediaLines Describe(const MediaInfo& info) {
    MediaLines lines;
    for (auto& [label, text] : MediaFields(info)) {
        lines.fields.emplace_back(std::move(label), EscapeControls(text));
    }
    auto& json = lines.json;
    json["container"] = info.container;
    json["containerName"] = info.containerName;
    if (info.durationSeconds) {
        json["durationSeconds"] = *info.durationSeconds;
    }
    if (info.firstSeconds) {
        json["firstTimestamp"] = *info.firstSeconds;
    }
    if (info.lastSeconds) {
        json["lastTimestamp"] = *info.lastSeconds;
    }
    if (info.video) {
        json["video"] = {{"codec", info.video->codec},
                         {"width", info.video->width},
                         {"height", info.video->height},
                         {"frameRate", info.video->frameRate}};
    }
    auto audio = nlohmann::ordered_json::array();
    for (const MediaInfo::Audio& track : info.audio) {
        audio.push_back({{"codec", track.codec},
                         {"channels", track.channels},
                         {"sampleRate", track.sampleRate},
                         {"language", track.language}});
    }
    json["audio"] = std::move(audio);
    json["bytesRead"] = info.bytesRead;
    return lines;
}

}  // namespace

std::optional<MediaLines> DescribeMedia(DriveTree& access, const DriveItem& file) {
    if (!file.IsFile() || file.m_fileSize == 0) {
        return std::nullopt;
    }
    MediaLines lines;
    Result<std::unique_ptr<FileReader>> reader = FileReader::OpenWithoutRetries(access, file);
    if (!reader) {
        lines.fields.emplace_back("Media", "not read: " + reader.error().reason);
        lines.json["error"] = reader.error().reason;
        return lines;
    }
    FileMediaSource source(**reader);
    const Result<MediaInfo> info = ProbeMedia(source);
    if (!info) {
        lines.fields.emplace_back("Media", EscapeControls(info.error().reason));
        lines.json["error"] = info.error().reason;
        return lines;
    }
    return Describe(*info);
}

namespace {

// Writes the bytes as path, whole: under path.part until they are all there.
std::string WriteWhole(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const std::string working = path + ".part";
    {
        std::ofstream file(working, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        file.flush();
        if (!file) {
            return working + ": it could not be written";
        }
    }
    std::error_code error;
    std::filesystem::rename(working, path, error);
    return error ? path + ": " + error.message() : "";
}

}  // namespace

int RunThumbnail(const ThumbnailOptions& options, DriveTree& access, TreeWalker& walker,
                 std::ostream& out, std::ostream& err) {
    std::string error;
    const auto place = walker.Resolve(options.treePath, error);
    if (!place) {
        err << EscapeControls(error) << '\n';
        return kExitUsage;
    }
    if (place->item == nullptr || !place->item->IsFile()) {
        err << kProgram << ": " << Quote(EscapeControls(place->path)) << " is not a file\n";
        return kExitUsage;
    }
    const std::string where = kProgram + std::string(": ") + Quote(EscapeControls(place->path));
    Result<std::unique_ptr<FileReader>> reader =
        FileReader::OpenWithoutRetries(access, *place->item);
    if (!reader) {
        err << where << ": " << reader.error().reason << '\n';
        return kExitFailureShown;
    }
    FileMediaSource source(**reader);
    Result<std::unique_ptr<MediaFile>> media = MediaFile::Open(source);
    if (!media) {
        err << where << ": " << EscapeControls(media.error().reason) << '\n';
        return kExitFailureShown;
    }
    double fraction = options.at;
    if (options.atSeconds) {
        const Result<MediaInfo> info = (*media)->Describe();
        if (!info || !info->durationSeconds || *info->durationSeconds <= 0) {
            err << where << ": "
                << (info ? "its duration is not known, so no place in seconds can be found"
                         : info.error().reason)
                << '\n';
            return kExitFailureShown;
        }
        fraction = options.at / *info->durationSeconds;
    }
    const Result<VideoFrame> frame = (*media)->FrameAt(fraction);
    if (!frame) {
        err << where << ": " << EscapeControls(frame.error().reason) << '\n';
        return kExitFailureShown;
    }
    const Result<std::vector<std::uint8_t>> png = EncodePng(*frame);
    const std::string failed = png ? WriteWhole(options.output, *png) : png.error().reason;
    if (!failed.empty()) {
        err << kProgram << ": " << EscapeControls(failed) << '\n';
        return kExitFailureShown;
    }
    out << EscapeControls(options.output) << ": " << frame->width << "x" << frame->height;
    if (frame->seconds) {
        out << " at " << MediaClockText(*frame->seconds);
    }
    out << '\n';
    return kExitOk;
}

}  // namespace moravel::cli
