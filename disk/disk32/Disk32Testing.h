#pragma once

#include <cstdint>

// The BIOS disk-service library's own settings, beyond the contract the program
// relies on: geometry, extension support, failing sectors and a record of the
// requests it served. Tests reach them through the loaded library.
namespace moravel::disk32 {

struct Disk32Request {
    std::uint32_t drive;
    std::uint32_t cylinder;
    std::uint32_t head;
    std::uint32_t sector;
    std::uint32_t count;
    std::uint32_t lba;
    std::uint32_t useExtensions;
    int result;
};

extern "C" {
using SetGeometryFn = void (*)(std::uint32_t drive, std::uint32_t heads,
                               std::uint32_t sectorsPerTrack);
using SetExtensionsFn = void (*)(std::uint32_t drive, std::uint32_t value);
using SetDriverErrorFn = void (*)(std::uint32_t error);
// Settings apply to the images named after them; reset clears them all.
using ResetSettingsFn = void (*)();
using FailSectorFn = void (*)(std::uint32_t drive, std::uint32_t lba);
// Copies up to capacity logged requests to out, clears the log, returns how many there were.
using TakeRequestsFn = std::uint32_t (*)(Disk32Request* out, std::uint32_t capacity);
}

}  // namespace moravel::disk32
