// The media module's one way in: MoravelMediaModule1 gives the MediaModule that
// the programs call (MediaModule.h). Everything else here stays inside it.

#include "MediaModule.h"

namespace moravel {
namespace {

class FfmpegModule final : public MediaModule {
public:
    Result<std::unique_ptr<MediaFile>> Open(MediaSource& source) const override {
        return MediaFile::Open(source);
    }
    Result<std::vector<std::uint8_t>> EncodePng(const VideoFrame& frame) const override {
        return moravel::EncodePng(frame);
    }
};

}  // namespace
}  // namespace moravel

extern "C" __attribute__((visibility("default"))) const moravel::MediaModule*
MoravelMediaModule1() {
    static const moravel::FfmpegModule module;
    return &module;
}
