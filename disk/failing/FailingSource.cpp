#include "FailingSource.h"

#include <limits>
#include <thread>
#include <utility>

namespace moravel::failing {

void SleepFor(std::chrono::microseconds time) {
    std::this_thread::sleep_for(time);
}

FailingSource::FailingSource(std::unique_ptr<SectorSource> image, std::shared_ptr<FailingDisk> disk,
                             Sleep sleep)
    : m_image(std::move(image)), m_disk(std::move(disk)), m_sleep(std::move(sleep)) {}

std::size_t FailingSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) {
    return Read(offset, buffer).bytes;
}

ReadOutcome FailingSource::Read(std::uint64_t offset, std::span<std::uint8_t> buffer) {
    ReadOutcome outcome = m_disk->Read(offset, buffer.size());
    const std::size_t got =
        outcome.bytes == 0 ? 0 : m_image->ReadAt(offset, buffer.first(outcome.bytes));
    if (got < outcome.bytes) {
        // The image itself fell short (it shrank, or the file behind it failed).
        outcome.bytes = got;
        outcome.error = got == 0;
    }
    if (outcome.cost.count() > 0 && m_sleep) {
        m_sleep(outcome.cost);
    }
    return outcome;
}

namespace {

std::shared_ptr<FailingDisk> MakeDisk(const SectorSource& image, FaultPlan plan) {
    // A source that cannot tell its size reads until its own end.
    const std::uint64_t bytes = image.Size().value_or(std::numeric_limits<std::uint64_t>::max());
    return std::make_shared<FailingDisk>(bytes, std::move(plan));
}

}  // namespace

Result<std::unique_ptr<FailingSource>> OpenFailingImage(const std::string& path, FaultPlan plan,
                                                        Sleep sleep) {
    OpenedSource image = OpenFileSource(path);
    if (!image) {
        return image.error();
    }
    auto disk = MakeDisk(**image, std::move(plan));
    return std::make_unique<FailingSource>(std::move(*image), std::move(disk), std::move(sleep));
}

FailingImages::FailingImages(Sleep sleep) : m_state(std::make_shared<State>()) {
    m_state->sleep = std::move(sleep);
}

void FailingImages::Fail(const std::string& path, FaultPlan plan) {
    m_state->plans[path] = std::move(plan);
    m_state->disks.erase(path);
}

SourceOpener FailingImages::Opener() const {
    return [state = m_state](const std::string& path) -> OpenedSource {
        OpenedSource image = OpenFileSource(path);
        const auto plan = state->plans.find(path);
        if (!image || plan == state->plans.end()) {
            return image;
        }
        std::shared_ptr<FailingDisk>& disk = state->disks[path];
        if (disk == nullptr) {
            disk = MakeDisk(**image, plan->second);
        }
        return std::make_unique<FailingSource>(std::move(*image), disk, state->sleep);
    };
}

std::shared_ptr<FailingDisk> FailingImages::Disk(const std::string& path) const {
    const auto disk = m_state->disks.find(path);
    return disk == m_state->disks.end() ? nullptr : disk->second;
}

}  // namespace moravel::failing
