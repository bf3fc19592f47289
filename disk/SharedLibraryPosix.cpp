#include <dlfcn.h>

#include <system_error>

#include "SharedLibrary.h"

namespace moravel {

void* LoadSharedLibrary(const std::string& path) {
    return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* SharedLibrarySymbol(void* library, const char* name) {
    return ::dlsym(library, name);
}

void FreeSharedLibrary(void* library) {
    ::dlclose(library);
}

std::filesystem::path ProgramFile() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error);
}

std::filesystem::path ProgramFolder() {
    return ProgramFile().parent_path();
}

}  // namespace moravel
