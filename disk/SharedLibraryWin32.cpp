#include <windows.h>

#include <algorithm>
#include <vector>

#include "SharedLibrary.h"
#include "WideText.h"

namespace moravel {

void* LoadSharedLibrary(const std::string& path) {
    // LoadLibrary takes backslashes only: a path with '/' would be looked up as a name.
    std::wstring wide = WidePath(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return ::LoadLibraryW(wide.c_str());
}

void* SharedLibrarySymbol(void* library, const char* name) {
    // GetProcAddress hands back a function pointer of its own type; callers cast it
    // to the one the contract names.
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeSharedLibrary(void* library) {
    ::FreeLibrary(static_cast<HMODULE>(library));
}

std::filesystem::path ProgramFolder() {
    return ProgramFile().parent_path();
}

std::filesystem::path ProgramFile() {
    std::vector<wchar_t> name(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            return std::filesystem::path(std::wstring(name.data(), length));
        }
        name.resize(name.size() * 2);
    }
}

}  // namespace moravel
