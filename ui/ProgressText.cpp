#include "ProgressText.h"

#include <algorithm>
#include <cmath>

#include "FormatSize.h"

namespace moravel {

namespace {

std::string TwoDigits(std::uint64_t value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}

// m:ss below an hour, else h:mm:ss.
std::string Duration(std::uint64_t seconds) {
    const std::uint64_t hours = seconds / 3600;
    const std::uint64_t minutes = seconds / 60 % 60;
    const std::string tail = TwoDigits(seconds % 60);
    if (hours == 0) {
        return std::to_string(minutes) + ":" + tail;
    }
    return std::to_string(hours) + ":" + TwoDigits(minutes) + ":" + tail;
}

}  // namespace

std::string RateAndTimeLeft(std::uint64_t done, std::uint64_t all, double seconds) {
    if (done == 0 || !(seconds > 0)) {
        return "--.- MB/s  ETA --:--";
    }
    const double bytesPerSecond = static_cast<double>(done) / seconds;
    const auto tenths = static_cast<std::uint64_t>(std::llround(bytesPerSecond / 1048576.0 * 10));
    const double left = static_cast<double>(all - std::min(done, all));
    // Capped at a day less a second: a rate near zero would say "forever".
    const double eta = std::min(std::ceil(left / bytesPerSecond), 86399.0);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB/s  ETA " +
           Duration(static_cast<std::uint64_t>(eta));
}

void CopyPace::Start(std::uint64_t bytesDone, double now) {
    *this = CopyPace{};
    m_from = bytesDone;
    m_since = now;
}

void CopyPace::Unreadable(std::uint64_t sectorsSoFar, std::uint64_t bytesDone) {
    m_around = true;
    m_unreadable = sectorsSoFar;
    m_lastFailedAt = bytesDone;
}

void CopyPace::Copied(std::uint64_t bytesDone, double now) {
    if (m_around && bytesDone >= m_lastFailedAt + kGoodStretch) {
        m_around = false;
        m_from = bytesDone;
        m_since = now;
    }
}

std::string CopyPace::Text(std::uint64_t bytesDone, std::uint64_t all, double now) const {
    if (m_around) {
        return "Reading around unreadable sectors: " + std::to_string(m_unreadable) + " so far";
    }
    const std::uint64_t from = std::min(m_from, bytesDone);
    return RateAndTimeLeft(bytesDone - from, all - std::min(from, all), now - m_since);
}

namespace {

// "1.2 GB of 8.4 GB  37.5 MB/s  ETA 3:15"
std::string BytesOfAll(std::uint64_t done, std::uint64_t all, std::string_view pace) {
    return FormatSize(done) + " of " + FormatSize(all) + "  " + std::string(pace);
}

std::string FileNumber(const BatchProgress& batch) {
    return "File " + std::to_string(batch.fileNumber) + "/" + std::to_string(batch.files);
}

}  // namespace

std::string BatchProgressText(const BatchProgress& batch, std::uint64_t bytesDone,
                              std::string_view pace) {
    return FileNumber(batch) + "  " + BytesOfAll(bytesDone, batch.totalBytes, pace);
}

std::string BatchStatusText(const BatchProgress& batch, std::string_view name,
                            std::uint64_t bytesDone, std::string_view pace) {
    return FileNumber(batch) + " " + std::string(name) + "  " +
           BytesOfAll(bytesDone, batch.totalBytes, pace);
}

std::string CopyProgressText(int percent, std::string_view pace) {
    const std::string shown = std::to_string(std::clamp(percent, 0, 100));
    return "Copying " + std::string(3 - shown.size(), ' ') + shown + "%  " + std::string(pace);
}

std::string CopyStatusText(std::string_view name, std::uint64_t bytesDone, std::uint64_t size,
                           std::string_view pace) {
    return "Copying " + std::string(name) + "  " + BytesOfAll(bytesDone, size, pace);
}

}  // namespace moravel
