#pragma once

#include <filesystem>
#include <string>

#include "image/FatVolumeBuilder.h"
#include "image/ImageBuilder.h"

namespace moravel::testing {

// The tests speak of the image builders' types without their namespace.
using namespace ::moravel::image;

// A directory under /tmp that is removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

}  // namespace moravel::testing
