#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "MediaModule.h"
#include "disk/SharedLibrary.h"

namespace moravel {

namespace {

// dlerror's text, without the path it begins with when it names the file.
std::string LoadFailure(const std::string& path) {
    const char* text = ::dlerror();
    std::string reason = text != nullptr ? text : "it could not be loaded";
    if (reason.starts_with(path + ": ")) {
        reason.erase(0, path.size() + 2);
    }
    return reason;
}

Result<const MediaModule*> LoadFrom(const std::string& path) {
    // Never unloaded: what it made (its code behind them) may be in use until the
    // program ends.
    void* library = LoadSharedLibrary(path);
    if (library == nullptr) {
        return Error{path + ": " + LoadFailure(path)};
    }
    const auto entry =
        reinterpret_cast<MediaModuleEntry>(SharedLibrarySymbol(library, kMediaModuleEntry));
    if (entry == nullptr) {
        return Error{path + ": not this program's media module (it has no " +
                     std::string(kMediaModuleEntry) + ")"};
    }
    return entry();
}

}  // namespace

Result<const MediaModule*> LoadMediaModule() {
    static const Result<const MediaModule*> loaded = []() -> Result<const MediaModule*> {
        const std::filesystem::path folder = ProgramFolder();
        // A bare name would have the system look for it along its library path.
        if (folder.empty()) {
            return Error{std::string(kMediaModuleFile) +
                         ": the program's own folder, where it lies, is not known"};
        }
        return LoadFrom((folder / kMediaModuleFile).string());
    }();
    return loaded;
}

}  // namespace moravel
