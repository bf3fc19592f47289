#pragma once

#include <array>
#include <span>
#include <string_view>

#include "ProgramVersion.h"

// The window's resources: identifiers, strings and the two dialog layouts in
// dialog units (a quarter of the font's average character width across, an
// eighth of its height down). Front ends build their windows from these.
namespace moravel::res {

inline constexpr int kAboutDialog = 100;
inline constexpr int kAboutMenuText = 101;
inline constexpr int kOpenImageMenuText = 103;
inline constexpr int kRescueCopyMenuText = 104;
inline constexpr int kRefreshMenuText = 105;
inline constexpr int kCopyFolderMenuText = 106;
inline constexpr int kMainDialog = 102;
inline constexpr int kApplicationIcon = 129;
inline constexpr int kLogoBitmap = 130;

// The system-menu command that opens the About box; its low four bits are free.
inline constexpr unsigned kAboutCommand = 16;
// The command that adds disk images to the tree (the window's context menu);
// its low four bits are free too.
inline constexpr unsigned kOpenImageCommand = 32;
// The command that copies the selected file as a rescue (the context menu); its
// low four bits are free too.
inline constexpr unsigned kRescueCopyCommand = 64;
// The command that reads the disks again (the context menu, F5); its low four
// bits are free too.
inline constexpr unsigned kRefreshCommand = 128;
// The command that copies the folder selected in the tree, all of it (the
// context menu); its low four bits are free too.
inline constexpr unsigned kCopyFolderCommand = 256;
// The command that shows a picture of the selected recording and what its streams
// hold (the desktop window's menu, where the media libraries are); its low four
// bits are free too.
inline constexpr unsigned kPreviewCommand = 512;
// Copy File as a command of the desktop window's menu (the button's click); its
// low four bits are free too.
inline constexpr unsigned kCopyFileCommand = 1024;

inline constexpr int kCopyFileButton = 1000;
inline constexpr int kFolderTree = 1002;
inline constexpr int kFileList = 1005;
inline constexpr int kProgressBar = 1006;
inline constexpr int kStatusLine = 1007;
inline constexpr int kOkButton = 1;
inline constexpr int kNoId = -1;

// The text of a string resource; empty when there is none.
std::string_view LoadString(int id);

enum class ControlKind {
    PushButton,
    DefaultPushButton,
    TreeView,
    ListView,
    Label,
    ProgressBar,
    StatusText,
    Picture,
    Icon
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::string_view text;
    int x;
    int y;
    int width;
    int height;
    bool visible;
};

struct DialogTemplate {
    int id;
    std::string_view caption;
    std::string_view font;
    int pointSize;
    int width;
    int height;
    std::span<const ControlTemplate> controls;  // in tab order
};

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutDialogTemplate();

// The version the programs say they are (the About box says it too), and where
// the project lives: CMakeLists.txt's project() says both.
inline constexpr std::string_view kProgramVersion = MORAVEL_VERSION;
inline constexpr std::string_view kHomePage = MORAVEL_HOMEPAGE;

// File and product version of the program.
inline constexpr std::string_view kFileVersion = "1.0.0.1";

}  // namespace moravel::res
