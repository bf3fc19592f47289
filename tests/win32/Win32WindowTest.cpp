// The Windows window, run under Wine: its resources against the layouts the
// other front ends use, and the real dialog driven through its controls against
// the headless front end on the same sample disk.

// Before windows.h, whose LoadString macro would rename the resources' own.
#include "res/Resources.h"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/WideText.h"
#include "res/Resources.h"
#include "support/TempDir.h"
#include "ui/MainDialog.h"
#include "ui/headless/HeadlessFrontend.h"
#include "ui/win32/Win32Frontend.h"

#undef LoadString

namespace moravel::testing {
namespace {

using Row = std::array<std::string, 4>;

std::wstring W(const std::string& text) {
    return WidePath(text);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(std::filesystem::path(W(path)), std::ios::binary | std::ios::ate);
    std::string bytes(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// --- The resources of moravel.exe

// A DLGTEMPLATEEX read back: the parts that the layouts of res/Resources.cpp fix.
struct ReadControl {
    DWORD style = 0;
    int id = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::wstring windowClass;  // a predefined class by its name, as the system names it
    std::wstring text;
    int textOrdinal = -1;  // a resource by number, for pictures and icons
};
struct ReadDialog {
    DWORD style = 0;
    std::wstring caption, font;
    int pointSize = 0, width = 0, height = 0;
    std::vector<ReadControl> controls;
};

class TemplateReader {
public:
    explicit TemplateReader(const void* data) : m_at(static_cast<const WORD*>(data)) {}
    WORD Word() { return *m_at++; }
    DWORD Dword() {
        const DWORD low = Word();
        return low | (DWORD{Word()} << 16);
    }
    // A name or an ordinal: 0xFFFF and the number, or a string ending in 0.
    std::wstring NameOr(int& ordinal) {
        ordinal = -1;
        if (*m_at == 0xFFFF) {
            ++m_at;
            ordinal = Word();
            return {};
        }
        std::wstring text(reinterpret_cast<const wchar_t*>(m_at));
        m_at += text.size() + 1;
        return text;
    }
    void AlignDword() {
        if (reinterpret_cast<std::uintptr_t>(m_at) % 4 != 0) {
            ++m_at;
        }
    }
    void Skip(std::size_t bytes) { m_at += (bytes + 1) / 2; }

private:
    const WORD* m_at;
};

std::wstring ClassOfOrdinal(int ordinal) {
    switch (ordinal) {
        case 0x80:
            return L"Button";
        case 0x82:
            return L"Static";
        default:
            return L"#" + std::to_wstring(ordinal);
    }
}

ReadDialog ReadDialogTemplate(HMODULE module, int id) {
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));  // RT_DIALOG
    if (found == nullptr) {
        throw std::runtime_error("no dialog " + std::to_string(id));
    }
    TemplateReader in(::LockResource(::LoadResource(module, found)));
    ReadDialog dialog;
    if (in.Word() != 1 || in.Word() != 0xFFFF) {
        throw std::runtime_error("dialog " + std::to_string(id) + " is no DLGTEMPLATEEX");
    }
    in.Dword();  // help id
    in.Dword();  // extended style
    dialog.style = in.Dword();
    const WORD count = in.Word();
    in.Word();  // x
    in.Word();  // y
    dialog.width = static_cast<short>(in.Word());
    dialog.height = static_cast<short>(in.Word());
    int ordinal = 0;
    in.NameOr(ordinal);  // menu
    in.NameOr(ordinal);  // class
    dialog.caption = in.NameOr(ordinal);
    if ((dialog.style & DS_SETFONT) != 0) {
        dialog.pointSize = in.Word();
        in.Word();  // weight
        in.Word();  // italic and character set
        dialog.font = in.NameOr(ordinal);
    }
    for (WORD i = 0; i < count; ++i) {
        in.AlignDword();
        ReadControl control;
        in.Dword();  // help id
        in.Dword();  // extended style
        control.style = in.Dword();
        control.x = static_cast<short>(in.Word());
        control.y = static_cast<short>(in.Word());
        control.width = static_cast<short>(in.Word());
        control.height = static_cast<short>(in.Word());
        control.id = static_cast<int>(in.Dword());
        control.windowClass = in.NameOr(ordinal);
        if (ordinal >= 0) {
            control.windowClass = ClassOfOrdinal(ordinal);
        }
        control.text = in.NameOr(control.textOrdinal);
        in.Skip(in.Word());  // creation data
        dialog.controls.push_back(control);
    }
    return dialog;
}

// The class and the style bits that a control kind must have in the resources.
struct KindLook {
    std::wstring windowClass;
    DWORD style;
};

KindLook LookOf(res::ControlKind kind) {
    using Kind = res::ControlKind;
    switch (kind) {
        case Kind::PushButton:
            return {L"Button", BS_PUSHBUTTON | WS_TABSTOP};
        case Kind::DefaultPushButton:
            return {L"Button", BS_DEFPUSHBUTTON | WS_TABSTOP};
        case Kind::TreeView:
            return {WC_TREEVIEWW,
                    TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | WS_BORDER | WS_TABSTOP};
        case Kind::ListView:
            return {WC_LISTVIEWW, LVS_REPORT | LVS_SINGLESEL | WS_BORDER | WS_TABSTOP};
        case Kind::Label:
        case Kind::StatusText:
            return {L"Static", SS_LEFT};
        case Kind::ProgressBar:
            return {PROGRESS_CLASSW, WS_BORDER};
        case Kind::Picture:
            return {L"Static", SS_BITMAP};
        case Kind::Icon:
            return {L"Static", SS_ICON};
    }
    return {};
}

void ExpectSameDialog(const ReadDialog& read, const res::DialogTemplate& layout) {
    SCOPED_TRACE("dialog " + std::to_string(layout.id));
    EXPECT_EQ(read.caption, W(std::string(layout.caption)));
    EXPECT_EQ(read.font, W(std::string(layout.font)));
    EXPECT_EQ(read.pointSize, layout.pointSize);
    EXPECT_EQ(read.width, layout.width);
    EXPECT_EQ(read.height, layout.height);
    EXPECT_EQ(read.style & (WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
    ASSERT_EQ(read.controls.size(), layout.controls.size());
    for (std::size_t i = 0; i < read.controls.size(); ++i) {
        const ReadControl& control = read.controls[i];
        const res::ControlTemplate& expected = layout.controls[i];
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(control.id, expected.id);
        EXPECT_EQ(control.x, expected.x);
        EXPECT_EQ(control.y, expected.y);
        EXPECT_EQ(control.width, expected.width);
        EXPECT_EQ(control.height, expected.height);
        EXPECT_EQ((control.style & WS_VISIBLE) != 0, expected.visible);
        const KindLook look = LookOf(expected.kind);
        EXPECT_EQ(_wcsicmp(control.windowClass.c_str(), look.windowClass.c_str()), 0)
            << NarrowText(control.windowClass);
        const DWORD typeMask = look.windowClass == L"Static" || look.windowClass == L"Button"
                                   ? 0x1Fu
                                   : 0u;  // the type of a static or button is a number
        EXPECT_EQ(control.style & (look.style | typeMask), look.style);
        if (expected.kind == res::ControlKind::Picture || expected.kind == res::ControlKind::Icon) {
            EXPECT_EQ(control.textOrdinal, expected.id);
        } else {
            EXPECT_EQ(control.text, W(std::string(expected.text)));
        }
    }
}

std::filesystem::path ProgramPath() {
    return std::filesystem::path(W(MORAVEL_EXE));
}

struct Module {
    HMODULE handle = ::LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ~Module() {
        if (handle != nullptr) {
            ::FreeLibrary(handle);
        }
    }
};

std::string ResourceText(HMODULE module, LPCWSTR type, int id) {
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) {
        return {};
    }
    return std::string(static_cast<const char*>(::LockResource(::LoadResource(module, found))),
                       ::SizeofResource(module, found));
}

TEST(Win32Resources, DialogsAreTheLayoutsOfTheOtherFrontEnds) {
    Module program;
    ASSERT_NE(program.handle, nullptr) << MORAVEL_EXE;
    ExpectSameDialog(ReadDialogTemplate(program.handle, res::kMainDialog),
                     res::MainDialogTemplate());
    ExpectSameDialog(ReadDialogTemplate(program.handle, res::kAboutDialog),
                     res::AboutDialogTemplate());
}

TEST(Win32Resources, StringsIconBitmapVersionAndManifest) {
    Module program;
    ASSERT_NE(program.handle, nullptr);
    for (int id : {res::kAboutMenuText, res::kOpenImageMenuText, res::kRescueCopyMenuText,
                   res::kRefreshMenuText, res::kCopyFolderMenuText}) {
        wchar_t text[256] = {};
        ::LoadStringW(program.handle, static_cast<UINT>(id), text, 256);
        EXPECT_EQ(NarrowText(text), res::LoadString(id)) << id;
    }
    EXPECT_NE(::FindResourceW(program.handle, MAKEINTRESOURCEW(res::kApplicationIcon),
                              MAKEINTRESOURCEW(14)),  // RT_GROUP_ICON
              nullptr);
    const std::string bitmap =
        ResourceText(program.handle, MAKEINTRESOURCEW(2), res::kLogoBitmap);  // RT_BITMAP
    ASSERT_GE(bitmap.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    std::memcpy(&header, bitmap.data(), sizeof(header));
    EXPECT_EQ(header.biWidth, 76);
    EXPECT_EQ(header.biHeight, 29);

    // The fixed part of the version follows its signature.
    const std::string version = ResourceText(program.handle, MAKEINTRESOURCEW(16), 1);
    const std::string signature("\xBD\x04\xEF\xFE", 4);
    const std::size_t at = version.find(signature);
    ASSERT_NE(at, std::string::npos);
    VS_FIXEDFILEINFO fixed;
    ASSERT_GE(version.size(), at + sizeof(fixed));
    std::memcpy(&fixed, version.data() + at, sizeof(fixed));
    const auto text = [](DWORD high, DWORD low) {
        return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
               std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
    };
    EXPECT_EQ(text(fixed.dwFileVersionMS, fixed.dwFileVersionLS), res::kFileVersion);
    EXPECT_EQ(text(fixed.dwProductVersionMS, fixed.dwProductVersionLS), res::kFileVersion);

    const std::string manifest = ResourceText(program.handle, MAKEINTRESOURCEW(24), 1);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
}

// --- The window

// The sample disk, made once for all cases by the sample disk maker.
class Win32Window : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<TempDir>();
        s_disk = s_dir->File("sample.img");
        std::wstring line = L"\"" + W(MORAVEL_MAKE_SAMPLE_DISK) + L"\" \"" + W(s_disk) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &startup, &process));
        ::WaitForSingleObject(process.hProcess, INFINITE);
        DWORD status = 1;
        ::GetExitCodeProcess(process.hProcess, &status);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
        ASSERT_EQ(status, 0u);
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override { Start(s_disk); }

    // Both windows on the disk.
    void Start(const std::string& disk) {
        ASSERT_TRUE(std::filesystem::exists(std::filesystem::path(W(disk))));
        DriveAccessOptions options;
        options.sources.hardDisks = {disk};
        m_frontend.AnswerMessageBoxes([this](const std::string& text) {
            m_messages.push_back(text);
            return MessageAnswer::Ok;
        });
        m_frontend.SetPumpSlice(0);
        m_dialog.emplace(m_frontend, options);
        m_window = m_frontend.OpenMainDialog(*m_dialog);
        ASSERT_NE(m_window, nullptr);
        m_tree = ::GetDlgItem(m_window, res::kFolderTree);
        m_list = ::GetDlgItem(m_window, res::kFileList);

        m_reference.emplace(m_headless, options);
        m_headless.Attach(&*m_reference);
        m_reference->InitializeDialog();
    }

    std::string Text(HWND window) const {
        wchar_t text[1024] = {};
        ::GetWindowTextW(window, text, 1024);
        return NarrowText(text);
    }
    std::vector<HTREEITEM> TreeChildren(HTREEITEM parent) const {
        std::vector<HTREEITEM> children;
        auto item = reinterpret_cast<HTREEITEM>(
            ::SendMessageW(m_tree, TVM_GETNEXTITEM, parent == nullptr ? TVGN_ROOT : TVGN_CHILD,
                           reinterpret_cast<LPARAM>(parent)));
        for (; item != nullptr;
             item = reinterpret_cast<HTREEITEM>(::SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                                               reinterpret_cast<LPARAM>(item)))) {
            children.push_back(item);
        }
        return children;
    }
    TVITEMW TreeItem(HTREEITEM item, wchar_t* text) const {
        TVITEMW read{};
        read.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_CHILDREN | TVIF_STATE;
        read.stateMask = TVIS_EXPANDED | TVIS_SELECTED;
        read.hItem = item;
        read.pszText = text;
        read.cchTextMax = 1024;
        ::SendMessageW(m_tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read));
        return read;
    }
    std::vector<std::string> TreeTexts(HTREEITEM parent) const {
        std::vector<std::string> texts;
        for (HTREEITEM item : TreeChildren(parent)) {
            wchar_t text[1024] = {};
            TreeItem(item, text);
            texts.push_back(NarrowText(text));
        }
        return texts;
    }
    HTREEITEM FindTreeItem(HTREEITEM parent, const std::string& text) const {
        const std::vector<HTREEITEM> children = TreeChildren(parent);
        const std::vector<std::string> texts = TreeTexts(parent);
        // A disk's node shows its model and size after its name, as the
        // headless front end's FindTreeItem knows.
        const std::string named = text + " \xE2\x80\x94 ";
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (texts[i] == text || texts[i].starts_with(named)) {
                return children[i];
            }
        }
        return nullptr;
    }
    std::vector<Row> ListRows() const {
        std::vector<Row> rows(
            static_cast<std::size_t>(::SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0)));
        for (std::size_t row = 0; row < rows.size(); ++row) {
            for (int column = 0; column < 4; ++column) {
                wchar_t text[1024] = {};
                LVITEMW read{};
                read.iSubItem = column;
                read.pszText = text;
                read.cchTextMax = 1024;
                ::SendMessageW(m_list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&read));
                rows[row][static_cast<std::size_t>(column)] = NarrowText(text);
            }
        }
        return rows;
    }
    std::vector<Row> ReferenceRows() const {
        std::vector<Row> rows;
        for (const auto& row : m_headless.Rows()) {
            rows.push_back(row.texts);
        }
        return rows;
    }
    // Selects the list row with that name as a click does; nothing when there is none.
    std::optional<Row> SelectRow(const std::string& name) {
        const std::vector<Row> rows = ListRows();
        const auto found =
            std::find_if(rows.begin(), rows.end(), [&](const Row& row) { return row[0] == name; });
        if (found == rows.end()) {
            return std::nullopt;
        }
        LVITEMW select{};
        select.stateMask = select.state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageW(m_list, LVM_SETITEMSTATE, static_cast<WPARAM>(found - rows.begin()),
                       reinterpret_cast<LPARAM>(&select));
        return *found;
    }
    // Selects the item by its path of texts in both windows, as a click on each does.
    std::pair<HTREEITEM, TreeItemHandle> SelectPath(const std::vector<std::string>& path) {
        HTREEITEM item = nullptr;
        TreeItemHandle reference = kTreeTop;
        for (const std::string& text : path) {
            item = FindTreeItem(item, text);
            reference = m_headless.FindTreeItem(reference, text);
            EXPECT_NE(item, nullptr) << text;
            EXPECT_NE(reference, kTreeTop) << text;
            if (item == nullptr || reference == kTreeTop) {
                return {nullptr, kTreeTop};
            }
            ::SendMessageW(m_tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
            m_headless.UserSelectTreeItem(reference);
        }
        return {item, reference};
    }
    // A click where the view shows the item's expand button.
    void ClickExpandButton(HTREEITEM item) {
        RECT place{};
        std::memcpy(&place, &item, sizeof(item));  // the item goes in, its place comes out
        ASSERT_TRUE(
            ::SendMessageW(m_tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&place)));
        TVHITTESTINFO hit{};
        hit.pt.y = (place.top + place.bottom) / 2;
        for (hit.pt.x = 0; hit.pt.x < place.left; ++hit.pt.x) {
            ::SendMessageW(m_tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
            if ((hit.flags & TVHT_ONITEMBUTTON) != 0 && hit.hItem == item) {
                break;
            }
        }
        ASSERT_LT(hit.pt.x, place.left) << "no expand button";
        ::SendMessageW(m_tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.pt.x, hit.pt.y));
        ::SendMessageW(m_tree, WM_LBUTTONUP, 0, MAKELPARAM(hit.pt.x, hit.pt.y));
    }
    // Selects every item under this one, depth first, and compares what both
    // windows show after each selection; returns how many items it selected.
    int WalkAndCompare(HTREEITEM item, TreeItemHandle reference, const std::string& where) {
        int selected = 0;
        if (item != nullptr) {
            ::SendMessageW(m_tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
            m_headless.UserSelectTreeItem(reference);
            ++selected;
            SCOPED_TRACE(where);
            EXPECT_EQ(ListRows(), ReferenceRows());
            wchar_t text[1024] = {};
            EXPECT_EQ(TreeItem(item, text).cChildren != 0,
                      m_headless.Node(reference).childCount != 0);
        }
        EXPECT_EQ(TreeTexts(item), m_headless.TreeTexts(reference)) << where;
        const std::vector<HTREEITEM> children = TreeChildren(item);
        const std::vector<TreeItemHandle>& references = m_headless.Node(reference).children;
        for (std::size_t i = 0; i < children.size() && i < references.size(); ++i) {
            selected += WalkAndCompare(children[i], references[i],
                                       where + "/" + m_headless.Node(references[i]).text);
        }
        return selected;
    }

    static inline std::unique_ptr<TempDir> s_dir;
    static inline std::string s_disk;

    win32::Win32Frontend m_frontend;
    std::optional<MainDialog> m_dialog;
    HWND m_window = nullptr;
    HWND m_tree = nullptr;
    HWND m_list = nullptr;
    std::vector<std::string> m_messages;
    HeadlessFrontend m_headless;
    std::optional<MainDialog> m_reference;
};

TEST_F(Win32Window, StartsWithCaptionControlsColumnsAndDisks) {
    EXPECT_EQ(Text(m_window), m_headless.Caption());
    const std::vector<std::pair<int, std::wstring>> controls = {
        {res::kCopyFileButton, L"Button"},
        {res::kFolderTree, WC_TREEVIEWW},
        {res::kFileList, WC_LISTVIEWW},
        {res::kProgressBar, PROGRESS_CLASSW},
        {res::kStatusLine, L"Static"}};
    for (const auto& [id, windowClass] : controls) {
        HWND control = ::GetDlgItem(m_window, id);
        ASSERT_NE(control, nullptr) << id;
        wchar_t name[64] = {};
        ::GetClassNameW(control, name, 64);
        EXPECT_EQ(_wcsicmp(name, windowClass.c_str()), 0) << id;
        EXPECT_EQ(::IsWindowVisible(control) != 0, m_headless.IsVisible(id)) << id;
    }
    EXPECT_EQ(Text(::GetDlgItem(m_window, res::kCopyFileButton)), "Copy File");

    const auto& columns = m_headless.Columns();
    HWND header = reinterpret_cast<HWND>(::SendMessageW(m_list, LVM_GETHEADER, 0, 0));
    ASSERT_EQ(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), std::ssize(columns));
    for (std::size_t i = 0; i < columns.size(); ++i) {
        wchar_t title[64] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.pszText = title;
        column.cchTextMax = 64;
        ::SendMessageW(m_list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
        EXPECT_EQ(NarrowText(title), columns[i].title);
        EXPECT_EQ(column.cx, columns[i].width);
        EXPECT_EQ((column.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_RIGHT,
                  columns[i].alignment == ColumnAlignment::Right);
    }
    EXPECT_EQ(TreeTexts(nullptr), m_headless.TreeTexts(kTreeTop));
    EXPECT_TRUE(ListRows().empty());

    // The system menu ends as the headless one: a separator, then the About item.
    HMENU menu = ::GetSystemMenu(m_window, FALSE);
    const int count = ::GetMenuItemCount(menu);
    const auto& reference = m_headless.SystemMenu();
    ASSERT_GE(count, std::ssize(reference));
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const int position = count - static_cast<int>(reference.size() - i);
        wchar_t text[128] = {};
        ::GetMenuStringW(menu, static_cast<UINT>(position), text, 128, MF_BYPOSITION);
        EXPECT_EQ(NarrowText(text), reference[i].second);
        if (reference[i].first != 0) {
            EXPECT_EQ(::GetMenuItemID(menu, position), reference[i].first);
        }
    }
}

TEST_F(Win32Window, EverySelectionShowsWhatTheHeadlessWindowShows) {
    const int selected = WalkAndCompare(nullptr, kTreeTop, "");
    // Disk, partitions, root directories and folders of the sample disk: a walk
    // that saw only the top would prove nothing.
    EXPECT_GE(selected, 10);
    EXPECT_TRUE(m_messages.empty());
    // The scan is over: neither the bar nor the status line is left showing.
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(m_window, res::kProgressBar)));
    EXPECT_EQ(::IsWindowVisible(::GetDlgItem(m_window, res::kStatusLine)) != 0,
              m_headless.IsVisible(res::kStatusLine));
    // The scans' progress notices reached the bar as they reached the headless one.
    EXPECT_GT(m_headless.ProgressPosition(), 0);
    EXPECT_EQ(::SendMessageW(::GetDlgItem(m_window, res::kProgressBar), PBM_GETPOS, 0, 0),
              m_headless.ProgressPosition());
}

// A click on the expand button of an item never selected: it is selected, and
// opens with the children its selection found.
TEST_F(Win32Window, ExpandButtonSelectsAndOpensTheItem) {
    HTREEITEM item = nullptr;
    TreeItemHandle reference = kTreeTop;
    for (const char* text : {"Hard Disk 1", "32-Bit FAT Disk"}) {
        SCOPED_TRACE(text);
        item = FindTreeItem(item, text);
        reference = m_headless.FindTreeItem(reference, text);
        ASSERT_NE(item, nullptr);
        ClickExpandButton(item);
        m_headless.UserExpandTreeItem(reference);

        wchar_t shown[1024] = {};
        const TVITEMW state = TreeItem(item, shown);
        EXPECT_NE(state.state & TVIS_SELECTED, 0u);
        EXPECT_NE(state.state & TVIS_EXPANDED, 0u);
        EXPECT_FALSE(TreeTexts(item).empty());
        EXPECT_EQ(TreeTexts(item), m_headless.TreeTexts(reference));
        EXPECT_EQ(ListRows(), ReferenceRows());
    }
}

// Names beyond ASCII and longer than the column, in a folder of their own: the
// list shows them whole, in the order of every front end.
class Win32Names : public Win32Window {
protected:
    void SetUp() override {
        constexpr std::uint32_t kStart = 2048;
        constexpr std::uint32_t kSectors = 600'000;
        VolumeLayout layout;
        layout.fatBits = 32;
        layout.totalSectors = kSectors;
        FatVolumeBuilder volume(layout);
        for (const auto& [shortName, longName] : {std::pair{"B       TS ", "b.ts"},
                                                  {"A       TS ", "A.ts"},
                                                  {"UBERTR~1TS ",
                                                   "\xC3\x9C"
                                                   "bertragung \xE2\x80\x93 \xC3\x84rger im "
                                                   "Caf\xC3\xA9 \xE2\x98\x85 2004-05-17 20:15.ts"},
                                                  {"C       TS ", "c.ts"}}) {
            volume.AddFile(volume.Root(), FileEntry(shortName, 1000, longName));
        }
        m_disk = m_dir.File("names.img");
        ImageFile image(m_disk, (std::uint64_t{kStart} + kSectors) * 512);
        image.WriteSector(0, PartitionSector({{0x0C, kStart, kSectors}}));
        volume.Write(image, kStart);
        Start(m_disk);
    }
    TempDir m_dir;
    std::string m_disk;
};

TEST_F(Win32Names, ListShowsNamesWholeInOrder) {
    SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory"});
    const std::vector<Row> rows = ListRows();
    EXPECT_EQ(rows, ReferenceRows());
    std::vector<std::string> names;
    for (const Row& row : rows) {
        names.push_back(row[0]);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"A.ts", "b.ts", "c.ts",
                                        "\xC3\x9C"
                                        "bertragung \xE2\x80\x93 \xC3\x84rger im Caf\xC3\xA9 "
                                        "\xE2\x98\x85 2004-05-17 20:15.ts"}));
}

TEST_F(Win32Window, CopyThroughTheSaveDialogGivesTheSourceBytes) {
    SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "Archive 2003"});
    ASSERT_EQ(ListRows(), ReferenceRows());
    const std::optional<Row> row = SelectRow("TRAILER.TS");
    ASSERT_TRUE(row);

    const std::string copy = s_dir->File("window copy.ts");
    std::vector<std::wstring> offered;
    m_frontend.AnswerSaveDialogs([&](const std::wstring& initialName) {
        offered.push_back(initialName);
        return std::optional<std::wstring>(W(copy));
    });
    ::SendMessageW(::GetDlgItem(m_window, res::kCopyFileButton), BM_CLICK, 0, 0);

    const std::string reference = s_dir->File("reference copy.ts");
    ASSERT_TRUE(m_headless.UserSelectListRow("TRAILER.TS"));
    m_headless.QueueSaveAnswer(SaveChoice{reference, "reference copy.ts"});
    m_headless.UserClickCopyFile();

    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(NarrowText(offered.front()), m_headless.SaveDialogs().front());
    EXPECT_TRUE(m_messages.empty()) << m_messages.front();
    const std::string bytes = ReadAll(copy);
    EXPECT_EQ(bytes.size(), std::stoull((*row)[2]));
    EXPECT_TRUE(bytes == ReadAll(reference)) << "the copies differ";
    std::string said = m_headless.StatusText();  // where the copy went: its own path
    said.replace(said.find("reference copy.ts"), 17, "window copy.ts");
    EXPECT_EQ(Text(::GetDlgItem(m_window, res::kStatusLine)), said);
    EXPECT_TRUE(::IsWindowEnabled(m_tree));
    EXPECT_TRUE(::IsWindowEnabled(m_list));

    // With no row selected, a double click in the list takes the result away,
    // and does nothing else.
    HWND status = ::GetDlgItem(m_window, res::kStatusLine);
    ASSERT_TRUE(::IsWindowVisible(status));
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED;
    ::SendMessageW(m_list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                   reinterpret_cast<LPARAM>(&none));
    m_headless.UserSelectListRow(-1);
    ::SendMessageW(m_list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(20, 5));
    m_headless.UserDoubleClickList();
    EXPECT_EQ(offered.size(), 1u);
    EXPECT_EQ(::IsWindowVisible(status) != 0, m_headless.IsVisible(res::kStatusLine));
    EXPECT_EQ(ListRows(), ReferenceRows());
}

// The close box while a copy runs: the copy stops at its next pump step, then
// the window closes, as the headless one does.
TEST_F(Win32Window, ClosingDuringACopyEndsTheCopyThenTheWindow) {
    const std::string name = "Evening News 2004-05-17.ts";
    SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "RECORDS"});
    const std::optional<Row> row = SelectRow(name);
    ASSERT_TRUE(row);
    const std::string copy = s_dir->File("closed.ts");
    m_frontend.AnswerSaveDialogs(
        [&](const std::wstring&) { return std::optional<std::wstring>(W(copy)); });
    // It waits in the queue until the copy pumps it.
    ::PostMessageW(m_window, WM_CLOSE, 0, 0);
    ::SendMessageW(::GetDlgItem(m_window, res::kCopyFileButton), BM_CLICK, 0, 0);

    const std::string reference = s_dir->File("closed reference.ts");
    ASSERT_TRUE(m_headless.UserSelectListRow(name));
    m_headless.QueueSaveAnswer(SaveChoice{reference, "closed reference.ts"});
    m_headless.Post([this] { m_headless.UserClose(); });
    m_headless.UserClickCopyFile();

    ASSERT_TRUE(m_headless.Closed());
    EXPECT_TRUE(m_frontend.IsClosed());
    EXPECT_FALSE(::IsWindowVisible(m_window));
    EXPECT_EQ(m_messages, m_headless.MessageTexts());
    // The FAT was read for the list: each copy stops with its output made, and
    // its status line names its own.
    std::string said = m_headless.StatusText();
    if (const auto at = said.find("closed reference.ts"); at != std::string::npos) {
        said.replace(at, 19, "closed.ts");
    }
    EXPECT_EQ(Text(::GetDlgItem(m_window, res::kStatusLine)), said);
    EXPECT_LT(ReadAll(copy).size(), std::stoull((*row)[2]));
}

// The About box from any system command 16 to 31; closing it with OK.
TEST_F(Win32Window, SystemMenuCommandsOpenTheAboutBox) {
    static std::vector<std::string> seen;
    seen.clear();
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
        HWND about = ::FindWindowW(nullptr, L"About Moravel");
        if (about != nullptr && ::IsWindowVisible(about)) {
            wchar_t text[128] = {};
            ::GetWindowTextW(::GetDlgItem(about, IDOK), text, 128);
            seen.push_back(NarrowText(text));
            ::SendMessageW(about, WM_COMMAND, IDOK, 0);
        }
    });
    for (WPARAM command : {16u, 16u + 5u, 31u}) {
        ::SendMessageW(m_window, WM_SYSCOMMAND, command, 0);
    }
    ::KillTimer(nullptr, timer);
    EXPECT_EQ(seen, (std::vector<std::string>{"OK", "OK", "OK"}));
    EXPECT_FALSE(m_frontend.IsClosed());
}

TEST_F(Win32Window, CloseBoxClosesTheWindow) {
    ::SendMessageW(m_window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(m_frontend.IsClosed());
    EXPECT_FALSE(::IsWindowVisible(m_window));
}

// The program itself: it opens its window on the disk and ends when it is closed.
TEST_F(Win32Window, ProgramOpensTheDiskAndEndsWhenClosed) {
    std::wstring line = L"\"" + ProgramPath().wstring() + L"\" --disk \"" + W(s_disk) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process));
    ::WaitForInputIdle(process.hProcess, 20000);
    HWND window = nullptr;
    const std::wstring caption = W(m_headless.Caption());
    for (int i = 0; i < 200 && window == nullptr; ++i) {
        for (HWND found = ::FindWindowW(nullptr, caption.c_str()); found != nullptr;
             found = ::FindWindowExW(nullptr, found, nullptr, caption.c_str())) {
            DWORD owner = 0;
            ::GetWindowThreadProcessId(found, &owner);
            window = owner == process.dwProcessId ? found : window;
        }
        ::Sleep(window == nullptr ? 100 : 0);
    }
    EXPECT_NE(window, nullptr);
    if (window != nullptr) {
        HWND tree = ::GetDlgItem(window, res::kFolderTree);
        EXPECT_EQ(::SendMessageW(tree, TVM_GETCOUNT, 0, 0),
                  std::ssize(m_headless.TreeTexts(kTreeTop)));
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(::WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
    DWORD status = 1;
    ::GetExitCodeProcess(process.hProcess, &status);
    EXPECT_EQ(status, 0u);
    if (status == STILL_ACTIVE) {
        ::TerminateProcess(process.hProcess, 1);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
}

}  // namespace
}  // namespace moravel::testing

// The window's controls, as the program has them: common controls 6 by the
// manifest that the resources give this program too.
int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES |
                                                        ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
