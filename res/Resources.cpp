#include "Resources.h"

#include <algorithm>

namespace moravel::res {

namespace {

// The About box's first line: the program's name and the version --version says.
constexpr std::string_view kVersionLead = "Moravel Version ";
constexpr auto kVersionLine = [] {
    std::array<char, kVersionLead.size() + kProgramVersion.size()> line{};
    std::copy(kVersionLead.begin(), kVersionLead.end(), line.begin());
    std::copy(kProgramVersion.begin(), kProgramVersion.end(), line.begin() + kVersionLead.size());
    return line;
}();

constexpr std::array kMainControls = {
    ControlTemplate{kCopyFileButton, ControlKind::PushButton, "Copy File", 317, 240, 63, 16, true},
    ControlTemplate{kFolderTree, ControlKind::TreeView, "", 7, 18, 118, 212, true},
    ControlTemplate{kNoId, ControlKind::Label, "Browse folders", 7, 6, 118, 10, true},
    ControlTemplate{kFileList, ControlKind::ListView, "", 132, 18, 249, 212, true},
    ControlTemplate{kNoId, ControlKind::Label, "Select file to copy", 132, 6, 118, 10, true},
    ControlTemplate{kProgressBar, ControlKind::ProgressBar, "", 68, 247, 236, 11, false},
    ControlTemplate{kStatusLine, ControlKind::StatusText, "", 69, 234, 227, 9, false},
    ControlTemplate{kLogoBitmap, ControlKind::Picture, "", 7, 238, 51, 18, true},
};

constexpr std::array kAboutControls = {
    ControlTemplate{kApplicationIcon, ControlKind::Icon, "", 11, 17, 20, 20, true},
    ControlTemplate{kNoId, ControlKind::Label,
                    std::string_view(kVersionLine.data(), kVersionLine.size()), 40, 10, 119, 8,
                    true},
    ControlTemplate{kNoId, ControlKind::Label, "Created for Veltrano Harddisk recorders.", 40, 24,
                    131, 22, true},
    ControlTemplate{kOkButton, ControlKind::DefaultPushButton, "OK", 178, 7, 50, 16, true},
};

constexpr DialogTemplate kMain{kMainDialog, "Moravel", "MS Shell Dlg", 8, 388, 265, kMainControls};
constexpr DialogTemplate kAbout{kAboutDialog, "About Moravel", "MS Shell Dlg", 8, 235,
                                55,           kAboutControls};

}  // namespace

std::string_view LoadString(int id) {
    switch (id) {
        case kAboutMenuText:
            return "&About Moravel...";
        case kOpenImageMenuText:
            return "&Open Disk Image...";
        case kRescueCopyMenuText:
            return "&Rescue Copy...";
        case kRefreshMenuText:
            return "R&efresh";
        case kCopyFolderMenuText:
            return "Copy &Folder...";
        default:
            return "";
    }
}

const DialogTemplate& MainDialogTemplate() {
    return kMain;
}
const DialogTemplate& AboutDialogTemplate() {
    return kAbout;
}

}  // namespace moravel::res
