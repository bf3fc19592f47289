#include "CliMedia.h"

#include "TerminalText.h"
#include "copy/CopyTarget.h"
#include "copy/FileReader.h"
#include "media/MediaModule.h"
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
    if (info.streamsFrom > 0) {
        json["streamsFromByte"] = info.streamsFrom;
        json["startError"] = info.startFailure;
    }
    return lines;
}

}  // namespace

std::optional<MediaLines> DescribeMedia(DriveTree& access, const DriveItem& file) {
    if (!file.IsFile() || file.m_fileSize == 0) {
        return std::nullopt;
    }
    const auto failed = [](const std::string& why) {
        MediaLines lines;
        lines.fields.emplace_back("Media", EscapeControls(why));
        lines.json["error"] = why;
        return lines;
    };
    // Without the module the rest is still told, as where there are no libraries.
    const Result<const MediaModule*> media = LoadMediaModule();
    if (!media) {
        return failed("not available: " + media.error().reason);
    }
    Result<std::unique_ptr<FileReader>> reader = FileReader::OpenWithoutRetries(access, file);
    if (!reader) {
        return failed("not read: " + reader.error().reason);
    }
    FileMediaSource source(**reader);
    Result<std::unique_ptr<MediaFile>> opened = (*media)->Open(source);
    const Result<MediaInfo> info = opened ? (*opened)->Describe() : opened.error();
    if (!info) {
        return failed(info.error().reason);
    }
    return Describe(*info);
}

namespace {

// The picture that thumbnail writes: from the place asked for, a share of the
// recording's bytes or seconds from its start.
Result<VideoFrame> ThumbnailPicture(const MediaModule& module, const ThumbnailOptions& options,
                                    DriveTree& access, const DriveItem& file) {
    Result<std::unique_ptr<FileReader>> reader = FileReader::OpenWithoutRetries(access, file);
    if (!reader) {
        return reader.error();
    }
    FileMediaSource source(**reader);
    Result<std::unique_ptr<MediaFile>> media = module.Open(source);
    if (!media) {
        return media.error();
    }
    double fraction = options.at;
    if (options.atSeconds) {
        const Result<MediaInfo> info = (*media)->Describe();
        if (!info) {
            return info.error();
        }
        if (!info->durationSeconds || *info->durationSeconds <= 0) {
            return Error{"its duration is not known, so no place in seconds can be found"};
        }
        fraction = options.at / *info->durationSeconds;
    }
    return (*media)->FrameAt(fraction);
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
    // Refused before anything is read: the picture must never land on a disk
    // being read, nor in the place of a device.
    GuardedFileSystem target(access.SourcePaths());
    if (const auto refusal = target.Refusal(options.output)) {
        err << kProgram << ": " << EscapeControls(options.output) << ": " << *refusal << '\n';
        return kExitFailureShown;
    }
    const std::string where = kProgram + std::string(": ") + Quote(EscapeControls(place->path));
    const Result<const MediaModule*> module = LoadMediaModule();
    const Result<VideoFrame> frame =
        module ? ThumbnailPicture(**module, options, access, *place->item)
               : Error{"the media module could not be loaded: " + module.error().reason};
    if (!frame) {
        err << where << ": " << EscapeControls(frame.error().reason) << '\n';
        return kExitFailureShown;
    }
    const Result<std::vector<std::uint8_t>> png = (*module)->EncodePng(*frame);
    const Failure failed = png ? WriteWholeFile(target, options.output, *png) : png.error();
    if (failed) {
        err << kProgram << ": " << EscapeControls(failed->reason) << '\n';
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
