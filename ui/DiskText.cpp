#include "DiskText.h"

#include "FormatSize.h"

namespace moravel {

namespace {

// The last part of a path, at either kind of slash (an image named on Windows).
std::string_view FileNameOf(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string DiskNodeText(std::string_view name, const DiskDetails& details,
                         std::optional<std::uint64_t> bytes) {
    std::string what = details.model;
    if (what.empty() && !details.blockDevice) {
        what = FileNameOf(details.device);
    }
    if (bytes) {
        what += (what.empty() ? "" : ", ") + FormatSize(*bytes);
    }
    return what.empty() ? std::string(name) : std::string(name) + " \xE2\x80\x94 " + what;
}

}  // namespace moravel
