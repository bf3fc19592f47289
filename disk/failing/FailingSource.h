#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "disk/SectorSource.h"
#include "disk/failing/FailingDisk.h"

namespace moravel::failing {

// How the time a read costs is spent; tests pass one that only adds it up.
using Sleep = std::function<void(std::chrono::microseconds)>;
void SleepFor(std::chrono::microseconds time);

// A disk image that reads like a failing drive: the model decides how much of
// each read arrives and what it costs, the image gives the bytes.
class FailingSource final : public SectorSource {
public:
    // image: the disk's bytes, opened read-only (OpenFileSource). disk: the
    // model, shared so that its log can be looked at while the source is open.
    FailingSource(std::unique_ptr<SectorSource> image, std::shared_ptr<FailingDisk> disk,
                  Sleep sleep = SleepFor);

    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override;
    std::optional<std::uint64_t> Size() const override { return m_disk->Bytes(); }

    // The same read, and why it stopped (EIO or a short read).
    ReadOutcome Read(std::uint64_t offset, std::span<std::uint8_t> buffer);

    FailingDisk& Disk() const { return *m_disk; }

private:
    std::unique_ptr<SectorSource> m_image;
    std::shared_ptr<FailingDisk> m_disk;
    Sleep m_sleep;
};

// Opens an image read-only (as the program opens disks) as a failing drive with
// the plan's faults, or why it cannot be opened.
Result<std::unique_ptr<FailingSource>> OpenFailingImage(const std::string& path, FaultPlan plan,
                                                        Sleep sleep = SleepFor);

// An opener for DriveAccessOptions::opener: the paths given a plan open as
// failing drives, every other path as the program opens it. A path's model is
// made at its first opening and kept for later ones: a drive that is opened
// again keeps what its weak sectors went through.
class FailingImages {
public:
    explicit FailingImages(Sleep sleep = SleepFor);

    void Fail(const std::string& path, FaultPlan plan);
    // Stays usable after this object is gone.
    SourceOpener Opener() const;
    // The model of a path that was opened; null before.
    std::shared_ptr<FailingDisk> Disk(const std::string& path) const;

private:
    struct State {
        Sleep sleep;
        std::map<std::string, FaultPlan> plans;
        std::map<std::string, std::shared_ptr<FailingDisk>> disks;
    };
    std::shared_ptr<State> m_state;
};

}  // namespace moravel::failing
