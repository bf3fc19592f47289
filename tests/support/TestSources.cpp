#include "TestSources.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace moravel::testing {

namespace {

#ifndef _WIN32
// Reads an image file like the program's own source does, but serves the holes of
// a sparse image without reading them: multi-gigabyte recordings that are mostly
// holes then copy in moments.
class SparseFileSource final : public SectorSource {
public:
    explicit SparseFileSource(int fd) : m_fd(fd) {}
    ~SparseFileSource() override { ::close(m_fd); }
    SparseFileSource(const SparseFileSource&) = delete;
    SparseFileSource& operator=(const SparseFileSource&) = delete;

    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        std::size_t done = 0;
        while (done < buffer.size()) {
            const auto at = static_cast<off_t>(offset + done);
            const off_t data = ::lseek(m_fd, at, SEEK_DATA);
            if (data < 0) {
                // No data from here on: holes up to the end of the file.
                const off_t end = ::lseek(m_fd, 0, SEEK_END);
                const auto zeros = static_cast<std::size_t>(std::max<off_t>(0, end - at));
                const std::size_t n = std::min(zeros, buffer.size() - done);
                std::memset(buffer.data() + done, 0, n);
                return done + n;
            }
            if (data > at) {
                const std::size_t n =
                    std::min(static_cast<std::size_t>(data - at), buffer.size() - done);
                std::memset(buffer.data() + done, 0, n);
                done += n;
                continue;
            }
            const off_t hole = ::lseek(m_fd, at, SEEK_HOLE);
            const std::size_t n =
                std::min(static_cast<std::size_t>(hole - at), buffer.size() - done);
            const ssize_t got = ::pread(m_fd, buffer.data() + done, n, at);
            if (got <= 0) {
                return done;
            }
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

    std::optional<std::uint64_t> Size() const override {
        const off_t end = ::lseek(m_fd, 0, SEEK_END);
        return end < 0 ? std::nullopt : std::optional<std::uint64_t>(end);
    }

private:
    int m_fd;
};
#endif

// The first of the sectors that a read of bytes [offset, offset + size) touches.
const std::uint64_t* FirstTouched(const std::set<std::uint64_t>& sectors, std::uint64_t offset,
                                  std::size_t size) {
    const auto first = sectors.lower_bound(offset / 512);
    return first != sectors.end() && *first * 512 < offset + size ? &*first : nullptr;
}

class LoggingSource final : public SectorSource {
public:
    static constexpr std::uint64_t kCachedAfterPull = 4096;

    LoggingSource(std::unique_ptr<SectorSource> inner, std::string path,
                  std::shared_ptr<SectorFaults> faults, std::shared_ptr<SourceLog> log)
        : m_inner(std::move(inner)),
          m_path(std::move(path)),
          m_faults(std::move(faults)),
          m_log(std::move(log)) {}

    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        m_log->reads.push_back({m_path, offset, buffer.size()});
        if (FirstTouched(m_faults->throwing[m_path], offset, buffer.size()) != nullptr) {
            throw std::runtime_error("read of a throwing sector");
        }
        // A disk pulled out: only what a cache holds of what was read at opening
        // (its first sectors) still comes in.
        std::size_t readable =
            !Pulled() ? buffer.size()
                      : static_cast<std::size_t>(std::min<std::uint64_t>(
                            buffer.size(), kCachedAfterPull - std::min(offset, kCachedAfterPull)));
        std::optional<std::uint64_t> stop;
        if (const auto* bad = FirstTouched(m_faults->bad[m_path], offset, buffer.size())) {
            stop = *bad;
        }
        // A weak sector before the stop is reached, and fails while it has failures left.
        auto& weak = m_faults->weak[m_path];
        for (auto it = weak.lower_bound(offset / 512);
             it != weak.end() && it->first * 512 < offset + buffer.size() &&
             (!stop || it->first < *stop);
             ++it) {
            if (it->second > 0) {
                --it->second;
                stop = it->first;
                break;
            }
        }
        if (stop) {
            readable =
                m_faults->wholeRequest.count(m_path) != 0
                    ? 0
                    : std::min(readable,
                               static_cast<std::size_t>(std::max(*stop * 512, offset) - offset));
        }
        return m_inner->ReadAt(offset, buffer.first(readable));
    }

    std::optional<std::uint64_t> Size() const override { return m_inner->Size(); }

private:
    bool Pulled() const {
        const auto after = m_faults->pulledAfter.find(m_path);
        return after != m_faults->pulledAfter.end() && m_log->reads.size() > after->second;
    }

    std::unique_ptr<SectorSource> m_inner;
    std::string m_path;
    std::shared_ptr<SectorFaults> m_faults;
    std::shared_ptr<SourceLog> m_log;
};

}  // namespace

SourceOpener TestOpener::Opener() {
    return [this](const std::string& path) -> OpenedSource {
        m_log->opens.push_back(path);
        // The program's own opener decides what can be opened, and why not.
        OpenedSource opened = OpenFileSource(path);
        if (!opened) {
            return opened;
        }
#ifdef _WIN32
        // Windows has no look-up of a file's holes: the program's own source reads them.
        std::unique_ptr<SectorSource> inner = std::move(*opened);
#else
        auto inner = std::make_unique<SparseFileSource>(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
#endif
        return std::make_unique<LoggingSource>(std::move(inner), path, m_faults, m_log);
    };
}

}  // namespace moravel::testing
