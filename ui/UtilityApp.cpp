#include "UtilityApp.h"

#include "MainDialog.h"

namespace moravel {

int UtilityApp::Run(Frontend& frontend, DriveAccessOptions options) {
    MainDialog dialog(frontend, std::move(options));
    frontend.RunMainDialog(dialog);
    return 0;
}

}  // namespace moravel
