#pragma once

#include <filesystem>
#include <string>

namespace moravel {

// A library loaded at run time (the BIOS disk-service library): the system's handle,
// null when it could not be loaded.
void* LoadSharedLibrary(const std::string& path);

// The address of an exported function; null when the library has none by that name.
void* SharedLibrarySymbol(void* library, const char* name);

void FreeSharedLibrary(void* library);

// The running program's file; empty when it cannot be told.
std::filesystem::path ProgramFile();

// The folder of the running program, where the libraries it loads lie beside it;
// empty when it cannot be told.
std::filesystem::path ProgramFolder();

}  // namespace moravel
