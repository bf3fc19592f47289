#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "MediaProbe.h"
#include "MediaSource.h"
#include "disk/Result.h"

namespace moravel {

// What the media module offers the programs: a recording opened for a look and
// its pictures, and a picture as PNG. FFmpeg's libraries and the hundred-odd
// libraries they bring are loaded with it, so only the commands that look into
// a recording (info, thumbnail, the window's Preview...) pay for them at start.
class MediaModule {
public:
    MediaModule() = default;
    virtual ~MediaModule() = default;
    MediaModule(const MediaModule&) = delete;
    MediaModule& operator=(const MediaModule&) = delete;

    // As MediaFile::Open.
    virtual Result<std::unique_ptr<MediaFile>> Open(MediaSource& source) const = 0;
    // As EncodePng.
    virtual Result<std::vector<std::uint8_t>> EncodePng(const VideoFrame& frame) const = 0;
};

// The module's file, beside the program that loads it.
inline constexpr char kMediaModuleFile[] = "moravel-media.so";
// Its one exported function, which gives the module's MediaModule (never null).
// The number changes with the interface, so that a module of another build of
// the program is refused rather than called.
inline constexpr char kMediaModuleEntry[] = "MoravelMediaModule1";
using MediaModuleEntry = const MediaModule* (*)();

// The module beside the running program, loaded at the first call (later calls
// give the same); the error names its path and why it could not be loaded.
Result<const MediaModule*> LoadMediaModule();

}  // namespace moravel
