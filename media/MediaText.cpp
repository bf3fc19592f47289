#include "MediaText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace moravel {

namespace {

std::string Decimal(double value, int digits) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

std::string VideoText(const MediaInfo::Video& video) {
    std::string text =
        video.codec + ", " + std::to_string(video.width) + "x" + std::to_string(video.height);
    if (video.frameRate > 0) {
        text += ", " +
                Decimal(video.frameRate, video.frameRate == std::floor(video.frameRate) ? 0 : 3) +
                " frames/s";
    }
    return text;
}

std::string AudioText(const MediaInfo::Audio& audio) {
    std::string text = audio.codec + ", " + std::to_string(audio.channels) +
                       (audio.channels == 1 ? " channel" : " channels") + ", " +
                       std::to_string(audio.sampleRate) + " Hz";
    if (!audio.language.empty()) {
        text += ", " + audio.language;
    }
    return text;
}

}  // namespace

std::string MediaClockText(double seconds) {
    const auto hundredths = static_cast<long long>(std::llround(std::max(seconds, 0.0) * 100));
    const long long whole = hundredths / 100;
    char text[48];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60, hundredths % 100);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld.%02lld", whole / 60, whole % 60,
                      hundredths % 100);
    }
    return text;
}

std::vector<std::pair<std::string, std::string>> MediaFields(const MediaInfo& info) {
    std::vector<std::pair<std::string, std::string>> fields;
    fields.emplace_back("Container", info.containerName);
    if (info.streamsFrom > 0) {
        fields.emplace_back("Start", "not read (" + info.startFailure +
                                         "); the streams were found from byte " +
                                         std::to_string(info.streamsFrom) + " on");
    }
    if (info.durationSeconds) {
        fields.emplace_back("Duration", MediaClockText(*info.durationSeconds) + " (" +
                                            Decimal(*info.durationSeconds, 3) + " s)");
    }
    if (info.firstSeconds || info.lastSeconds) {
        const auto seconds = [](const std::optional<double>& value) {
            return value ? Decimal(*value, 3) + " s" : std::string("not known");
        };
        fields.emplace_back("Timestamps", "from " + seconds(info.firstSeconds) + " to " +
                                              seconds(info.lastSeconds) + " of the stream's clock");
    }
    if (info.video) {
        fields.emplace_back("Video", VideoText(*info.video));
    }
    for (const MediaInfo::Audio& track : info.audio) {
        fields.emplace_back("Audio", AudioText(track));
    }
    return fields;
}

}  // namespace moravel
