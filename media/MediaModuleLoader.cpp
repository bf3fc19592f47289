#include <dlfcn.h>

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
    // Never unloaded: pictures and files it made may be in use until the end.
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return Error{path + ": " + LoadFailure(path)};
    }
    const auto entry = reinterpret_cast<MediaModuleEntry>(::dlsym(library, kMediaModuleEntry));
    if (entry == nullptr) {
        return Error{path + ": not this program's media module (it has no " +
                     std::string(kMediaModuleEntry) + ")"};
    }
    return entry();
}

}  // namespace

Result<const MediaModule*> LoadMediaModule() {
    static const Result<const MediaModule*> loaded =
        LoadFrom((ProgramFolder() / kMediaModuleFile).string());
    return loaded;
}

}  // namespace moravel
