#include "CopyFrontend.h"

#include <filesystem>

#include "disk/SharedLibrary.h"

namespace moravel {

std::string ApplicationTitle() {
    const std::filesystem::path program = ProgramFile();
    if (program.empty()) {
        return "Moravel";
    }
    return program.stem().string();
}

void ShowFailure(CopyFrontend& frontend, const std::string& text) {
    frontend.ShowMessage(text, ApplicationTitle(), MessageButtons::Ok, MessageIcon::Exclamation);
}

}  // namespace moravel
