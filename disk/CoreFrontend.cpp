#include "CoreFrontend.h"

#include <filesystem>
#include <system_error>

namespace moravel {

std::string ApplicationTitle() {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return "Moravel";
    }
    return program.stem().string();
}

void ShowFailure(CoreFrontend& frontend, const std::string& text) {
    frontend.ShowMessage(text, ApplicationTitle(), MessageButtons::Ok, MessageIcon::Exclamation);
}

}  // namespace moravel
