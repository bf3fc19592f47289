#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "disk/Result.h"
#include "disk/SectorSource.h"

namespace moravel::testing {

// The reasons of the errors, in order.
inline std::vector<std::string> Reasons(const Errors& errors) {
    std::vector<std::string> reasons;
    for (const Error& error : errors) {
        reasons.push_back(error.reason);
    }
    return reasons;
}

// What the sources made by a TestOpener saw: every open and every read.
struct SourceLog {
    struct Read {
        std::string path;
        std::uint64_t offset;
        std::size_t bytes;
    };
    std::vector<std::string> opens;
    std::vector<Read> reads;
};

// Sectors of each path that fail, sectors whose read throws, and paths pulled out.
struct SectorFaults {
    std::map<std::string, std::set<std::uint64_t>> bad;
    std::map<std::string, std::set<std::uint64_t>> throwing;
    std::map<std::string, std::size_t> pulledAfter;  // the reads logged before it went
    std::set<std::string> wholeRequest;  // a read that touches a bad sector gives nothing
    std::map<std::string, std::map<std::uint64_t, unsigned>> weak;  // sector: failed reads left
};

// Opens paths as the program does, but each source records its reads in the log
// and fails every read that touches one of the path's bad sectors: such a read
// returns only the bytes before the first bad sector, as a disk with a media
// error does. Marks take effect at once, also on sources already open.
class TestOpener {
public:
    void MarkBad(const std::string& path, std::uint64_t sector) {
        m_faults->bad[path].insert(sector);
    }
    // A read that touches a bad sector of the path gives none of its bytes, as
    // through a bridge that fails a request as a whole.
    void FailWholeRequests(const std::string& path) { m_faults->wholeRequest.insert(path); }
    // The sector fails the first `failures` reads that reach it, then reads.
    void MarkWeak(const std::string& path, std::uint64_t sector, unsigned failures) {
        m_faults->weak[path][sector] = failures;
    }
    // A read that touches this sector throws, as a broken driver might.
    void MarkThrowing(const std::string& path, std::uint64_t sector) {
        m_faults->throwing[path].insert(sector);
    }
    // After `reads` more reads nothing of the path reads but its first 4 KiB (as
    // from a cache that still holds them), as a disk pulled out.
    void PullAfter(const std::string& path, std::size_t reads) {
        m_faults->pulledAfter[path] = m_log->reads.size() + reads;
    }
    // The path reads again, as a disk plugged back in.
    void PlugIn(const std::string& path) { m_faults->pulledAfter.erase(path); }
    SourceLog& Log() const { return *m_log; }
    SourceOpener Opener();

private:
    std::shared_ptr<SectorFaults> m_faults = std::make_shared<SectorFaults>();
    std::shared_ptr<SourceLog> m_log = std::make_shared<SourceLog>();
};

}  // namespace moravel::testing
