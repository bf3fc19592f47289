#include "SectorSource.h"

namespace moravel {

namespace {

// Places to try, spread over the disk and new at every call (splitmix64): the
// sectors a listing or a copy read before are the ones a cache holds.
std::uint64_t Scatter(std::uint64_t n) {
    std::uint64_t z = n + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

bool SectorSource::Answers() {
    if (SaidGone()) {
        return false;
    }
    const std::optional<std::uint64_t> size = Size();
    const std::uint64_t places = size ? *size / kProbeBytes : 0;
    // A disk that died mid-way answers nowhere; one with bad areas, in most places.
    constexpr int kTries = 3;
    alignas(kProbeBytes) std::uint8_t probe[kProbeBytes];
    for (int i = 0; i < kTries; ++i) {
        const std::uint64_t place = places > 1 ? Scatter(m_probes++) % places : 0;
        if (ReadUncached(place * kProbeBytes, probe) > 0) {
            return true;
        }
    }
    return false;
}

}  // namespace moravel
