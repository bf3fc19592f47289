#include "CopyFrontend.h"

namespace moravel {

std::string ApplicationTitle() {
    return kMainCaption;
}

void ShowFailure(CopyFrontend& frontend, const std::string& text) {
    frontend.ShowMessage(text, ApplicationTitle(), MessageButtons::Ok, MessageIcon::Exclamation);
}

}  // namespace moravel
