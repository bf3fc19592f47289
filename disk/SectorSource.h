#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "Result.h"

namespace moravel {

// An open disk: an image file or a block device, read at absolute byte offsets.
// Never written.
class SectorSource {
public:
    virtual ~SectorSource() = default;

    // Reads up to buffer.size() bytes at the offset and returns how many arrived
    // before the end of the source or the first read error (0 when none did).
    virtual std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) = 0;

    // The number of bytes the source holds, when it can be told: nothing lies beyond it.
    virtual std::optional<std::uint64_t> Size() const { return std::nullopt; }

    // After a failed read: whether the source still answers at all. A disk pulled
    // out, or one that died, does not. Decided from more than a cache can hold:
    // what the system said of the failed reads (SaidGone), and reads of a few
    // sectors spread over the disk, chosen anew each time, past the system's cache
    // where it can be passed: a sector read before (the first, say) may well still
    // be in a cache after the disk went.
    bool Answers();

    // Reads as ReadAt does, on any thread, alongside the source's own reads, and
    // for as long as it is kept (it holds the disk open by itself).
    using ReaderAside = std::function<std::size_t(std::uint64_t, std::span<std::uint8_t>)>;
    // Nothing where reads cannot run side by side.
    virtual ReaderAside ReadAside() const { return {}; }

    // From now on reads pass by the system's cache where the disk takes it
    // (O_DIRECT): a failed request is then asked of the drive once, not again
    // page by page by the kernel, each time with the drive's own retries. What
    // reads do now, for the rescue map.
    virtual std::string BypassCache() { return "through the system's cache (no other way here)"; }

protected:
    // Whether the system said of a read that failed that the disk is gone (no
    // device, no medium, no connection), or the disk now has no size.
    virtual bool SaidGone() { return false; }
    // Reads kProbeBytes at an offset that is a multiple of them, from the disk
    // itself where a cache can be passed; how many bytes came in.
    virtual std::size_t ReadUncached(std::uint64_t offset, std::span<std::uint8_t> buffer) {
        return ReadAt(offset, buffer);
    }
    static constexpr std::size_t kProbeBytes = 4096;

private:
    std::uint64_t m_probes = 0;  // how many places were tried, to pick new ones
};

// Why a path could not be opened, for the front ends to show.
struct OpenError {
    std::string path;
    std::string reason;
};

// "PATH: REASON", or the reason alone where it names the path ("Not authorized to
// read /dev/sdb").
std::string OpenProblemText(const OpenError& problem);

// An open disk, or why its path could not be opened ("Permission denied").
using OpenedSource = Result<std::unique_ptr<SectorSource>>;

// Opens a disk path read-only.
using SourceOpener = std::function<OpenedSource(const std::string& path)>;

// The opener of the real system: open(2) with O_RDONLY, reads through the page cache.
OpenedSource OpenFileSource(const std::string& path);

#ifndef _WIN32
// A source over a descriptor opened read-only elsewhere (handed over by udisks2);
// the source closes it.
std::unique_ptr<SectorSource> SourceOfDescriptor(int fd);
#endif

}  // namespace moravel
