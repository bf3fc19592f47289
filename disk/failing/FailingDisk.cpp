#include "FailingDisk.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace moravel::failing {

FailingDisk::FailingDisk(std::uint64_t bytes, FaultPlan plan)
    : m_bytes(bytes), m_plan(std::move(plan)) {
    std::vector<SectorRange> bad = m_plan.bad;
    std::sort(bad.begin(), bad.end(),
              [](const SectorRange& a, const SectorRange& b) { return a.first < b.first; });
    for (const SectorRange& range : bad) {
        if (range.first > range.last) {
            throw std::invalid_argument("a bad range ends before it begins");
        }
        // Overlapping or touching ranges become one, so that a look-up finds the
        // whole stretch in one step.
        if (!m_bad.empty()) {
            auto& previous = *std::prev(m_bad.end());
            if (range.first <= previous.second + 1) {
                previous.second = std::max(previous.second, range.last);
                continue;
            }
        }
        m_bad.emplace(range.first, range.last);
    }
    for (const WeakSector& weak : m_plan.weak) {
        if (weak.goodOnTry == 0) {
            throw std::invalid_argument("a weak sector reads on its first try at the earliest");
        }
        m_weakGoodOnTry[weak.sector] = weak.goodOnTry;
    }
}

std::optional<std::uint64_t> FailingDisk::FirstFailing(std::uint64_t first,
                                                       std::uint64_t last) const {
    std::optional<std::uint64_t> found;
    auto next = m_bad.upper_bound(first);
    if (next != m_bad.begin() && std::prev(next)->second >= first) {
        return first;
    }
    if (next != m_bad.end() && next->first <= last) {
        found = next->first;
    }
    for (auto weak = m_weakGoodOnTry.lower_bound(first);
         weak != m_weakGoodOnTry.end() && weak->first <= last; ++weak) {
        if (found && weak->first >= *found) {
            break;
        }
        const auto tries = m_weakTries.find(weak->first);
        const unsigned triedBefore = tries == m_weakTries.end() ? 0 : tries->second;
        if (triedBefore + 1 < weak->second) {
            return weak->first;
        }
    }
    return found;
}

ReadOutcome FailingDisk::Read(std::uint64_t offset, std::size_t length) {
    ReadOutcome outcome;
    if (length > 0 && offset < m_bytes) {
        const std::uint64_t end = std::min<std::uint64_t>(offset + length, m_bytes);
        const std::uint64_t firstSector = offset / kSectorBytes;
        const std::uint64_t lastSector = (end - 1) / kSectorBytes;
        outcome.stoppedAt = FirstFailing(firstSector, lastSector);
        const std::uint64_t readEnd =
            outcome.stoppedAt ? std::max(*outcome.stoppedAt * kSectorBytes, offset) : end;
        outcome.bytes = static_cast<std::size_t>(readEnd - offset);
        outcome.error = outcome.stoppedAt && outcome.bytes == 0;

        // Every weak sector the drive reached was tried once more: those read
        // well and the one it stopped at.
        const std::uint64_t lastTried = outcome.stoppedAt.value_or(lastSector);
        for (auto weak = m_weakGoodOnTry.lower_bound(firstSector);
             weak != m_weakGoodOnTry.end() && weak->first <= lastTried; ++weak) {
            ++m_weakTries[weak->first];
        }

        // The drive reads the sectors before the bad one either way.
        const std::uint64_t goodSectors =
            outcome.bytes == 0 ? 0 : (readEnd - 1) / kSectorBytes - firstSector + 1;
        outcome.cost = m_plan.goodSectorCost * static_cast<std::int64_t>(goodSectors);
        if (outcome.stoppedAt) {
            outcome.cost += m_plan.failedSectorCost;
            if (m_plan.failWholeRequest) {
                outcome.bytes = 0;
                outcome.error = true;
            }
        }
    }
    m_totalCost += outcome.cost;
    if (m_logging) {
        m_log.push_back({offset, length, outcome});
    }
    return outcome;
}

std::size_t FailingDisk::TimesRead(std::uint64_t sector) const {
    return static_cast<std::size_t>(
        std::count_if(m_log.begin(), m_log.end(), [sector](const ReadRecord& record) {
            const ReadOutcome& outcome = record.outcome;
            if (outcome.stoppedAt == sector) {
                return true;
            }
            return outcome.bytes > 0 && record.offset / kSectorBytes <= sector &&
                   sector <= (record.offset + outcome.bytes - 1) / kSectorBytes;
        }));
}

unsigned FailingDisk::Tries(std::uint64_t sector) const {
    const auto tries = m_weakTries.find(sector);
    return tries == m_weakTries.end() ? 0 : tries->second;
}

}  // namespace moravel::failing
