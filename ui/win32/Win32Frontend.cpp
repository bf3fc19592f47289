#include "Win32Frontend.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <exception>
#include <new>
#include <stdexcept>

#include "disk/WideText.h"
#include "ui/MainDialog.h"

namespace moravel::win32 {

namespace {

// Long enough for any path the system takes (\\?\ paths included).
constexpr DWORD kPathCharacters = 32768;

constexpr LPARAM kListStyle = LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER;

std::wstring Wide(const std::string& utf8) {
    return WidePath(utf8);
}

HTREEITEM TreeItemOf(TreeItemHandle item) {
    return reinterpret_cast<HTREEITEM>(item);
}

TreeItemHandle HandleOf(HTREEITEM item) {
    return reinterpret_cast<TreeItemHandle>(item);
}

UINT IconStyleOf(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Exclamation:
            return MB_ICONEXCLAMATION;
        case MessageIcon::Hand:
            return MB_ICONHAND;
        case MessageIcon::None:
            break;
    }
    return 0;
}

// The folder part of a path, for the next dialog to start in.
std::wstring FolderOf(const std::wstring& path, std::size_t nameOffset) {
    return nameOffset > 0 && nameOffset <= path.size() ? path.substr(0, nameOffset) : L"";
}

}  // namespace

Win32Frontend::Win32Frontend(HINSTANCE resources)
    : m_resources(resources != nullptr ? resources : ::GetModuleHandleW(nullptr)) {}

Win32Frontend::~Win32Frontend() {
    // The dialog may be gone already: what the controls still say as they go
    // reaches no handler.
    m_dialog = nullptr;
    if (m_window != nullptr && !m_modal) {
        ::DestroyWindow(m_window);
    }
}

template <class Action>
void Win32Frontend::Guarded(Action&& action) noexcept {
    const wchar_t* failure = nullptr;
    try {
        action();
        return;
    } catch (const std::bad_alloc&) {
        failure = L"There is not enough memory for this.";
    } catch (...) {
        failure = L"This could not be done: the window failed.";
    }
    std::wstring caption = L"Veltrano Harddisk Recorder Utility";
    try {
        caption = Wide(ApplicationTitle());
    } catch (...) {
        // The caption as written here will do.
    }
    ::MessageBoxW(Owner(), failure, caption.c_str(), MB_OK | MB_ICONHAND);
}

HWND Win32Frontend::Control(int id) const {
    return m_window != nullptr ? ::GetDlgItem(m_window, id) : nullptr;
}

HWND Win32Frontend::Owner() const {
    return m_window != nullptr && ::IsWindowVisible(m_window) ? m_window : nullptr;
}

// --- CoreFrontend

MessageAnswer Win32Frontend::ShowMessage(const std::string& text, const std::string& caption,
                                         MessageButtons buttons, MessageIcon icon) {
    if (m_messageAnswer) {
        return m_messageAnswer(text);
    }
    const UINT style = (buttons == MessageButtons::OkCancel ? MB_OKCANCEL : MB_OK) |
                       IconStyleOf(icon) | (Owner() == nullptr ? MB_TASKMODAL : 0u);
    // A box without a caption of its own carries the window's.
    const std::wstring title = Wide(caption.empty() ? ApplicationTitle() : caption);
    const int answer = ::MessageBoxW(Owner(), Wide(text).c_str(), title.c_str(), style);
    return answer == IDOK ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

// A Windows message box names its buttons itself: OK and Cancel, or Yes, No
// and Cancel, and the text says which does what.
std::size_t Win32Frontend::Ask(const std::string& text, const std::vector<std::string>& verbs,
                               MessageIcon icon) {
    const std::size_t last = verbs.empty() ? 0 : verbs.size() - 1;
    const bool three = verbs.size() >= 3;
    std::string legend;
    if (verbs.size() >= 2) {
        legend =
            three ? "\n\nYes: " + verbs[0] + ".  No: " + verbs[1] + ".  Cancel: " + verbs[2] + "."
                  : "\n\nOK: " + verbs[0] + ".  Cancel: " + verbs[1] + ".";
    }
    if (m_messageAnswer) {
        return m_messageAnswer(text) == MessageAnswer::Ok ? 0 : last;
    }
    const UINT style = (three ? MB_YESNOCANCEL : MB_OKCANCEL) | IconStyleOf(icon) |
                       (Owner() == nullptr ? MB_TASKMODAL : 0u);
    const std::wstring title = Wide(ApplicationTitle());
    const int answer = ::MessageBoxW(Owner(), Wide(text + legend).c_str(), title.c_str(), style);
    return answer == IDOK || answer == IDYES ? 0 : answer == IDNO ? 1 : last;
}

void Win32Frontend::PostScanProgress() {
    // At most one notice waits: its handler reads the newest percentage anyway.
    if (m_progressPending || m_window == nullptr) {
        return;
    }
    if (::PostMessageW(m_window, kScanProgressMessage, 0, 0)) {
        m_progressPending = true;
    }
}

// Long work calls this after every unit (a folder entry, a cluster): most calls
// only read the clock, since taking the queue costs a trip to the system each
// time. The window still repaints and takes input many times a second.
void Win32Frontend::PumpMessages() {
    const std::uint64_t now = ::GetTickCount64();
    if (m_pumpSlice > 0 && now - m_lastPump < m_pumpSlice) {
        return;
    }
    m_lastPump = now;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // For the loop further out, which ends on it.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (m_window != nullptr && ::IsDialogMessageW(m_window, &message)) {
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

// --- CopyFrontend

int Win32Frontend::SelectedListRow() {
    return static_cast<int>(
        ::SendMessageW(m_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

DriveItem* Win32Frontend::ListRowData(int row) {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!::SendMessageW(m_list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) {
        throw std::out_of_range("no list row " + std::to_string(row));
    }
    return reinterpret_cast<DriveItem*>(item.lParam);
}

std::optional<std::string> Win32Frontend::AskFolder(const std::string& title) {
    const std::wstring caption = Wide(title);
    BROWSEINFOW browse{};
    browse.hwndOwner = Owner();
    browse.lpszTitle = caption.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&browse);
    if (chosen == nullptr) {
        return std::nullopt;
    }
    std::wstring path(kPathCharacters, L'\0');
    const bool found =
        ::SHGetPathFromIDListEx(chosen, path.data(), kPathCharacters, GPFIDL_DEFAULT);
    ::CoTaskMemFree(chosen);
    if (!found) {
        return std::nullopt;
    }
    path.resize(std::wcslen(path.c_str()));
    m_lastSaveFolder = path;
    return NarrowText(path);
}

std::optional<SaveChoice> Win32Frontend::AskSaveFileName(const std::string& initialName) {
    std::wstring path;
    std::size_t nameOffset = 0;
    if (m_saveAnswer) {
        const std::optional<std::wstring> answer = m_saveAnswer(Wide(initialName));
        if (!answer) {
            return std::nullopt;
        }
        path = *answer;
        const std::size_t slash = path.find_last_of(L"\\/");
        nameOffset = slash == std::wstring::npos ? 0 : slash + 1;
    } else {
        std::wstring buffer = Wide(initialName);
        buffer.resize(kPathCharacters, L'\0');
        OPENFILENAMEW dialog{};
        dialog.lStructSize = sizeof(dialog);
        dialog.hwndOwner = Owner();
        dialog.lpstrFilter = L"All files (*.*)\0*.*\0";
        dialog.lpstrFile = buffer.data();
        dialog.nMaxFile = kPathCharacters;
        dialog.lpstrInitialDir = m_lastSaveFolder.empty() ? nullptr : m_lastSaveFolder.c_str();
        dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                       OFN_NOCHANGEDIR | OFN_EXPLORER;
        if (!::GetSaveFileNameW(&dialog)) {
            return std::nullopt;
        }
        path = buffer.c_str();
        nameOffset = dialog.nFileOffset;
    }
    m_lastSaveFolder = FolderOf(path, nameOffset);
    return SaveChoice{NarrowText(path), NarrowText(path.substr(std::min(nameOffset, path.size())))};
}

void Win32Frontend::SetStatusText(const std::string& text) {
    ::SetWindowTextW(Control(res::kStatusLine), Wide(text).c_str());
}

void Win32Frontend::ShowControl(int id, bool show) {
    if (HWND control = Control(id); control != nullptr) {
        ::ShowWindow(control, show ? SW_SHOW : SW_HIDE);
    }
}

void Win32Frontend::EnableControl(int id, bool enable) {
    if (HWND control = Control(id); control != nullptr) {
        ::EnableWindow(control, enable ? TRUE : FALSE);
    }
}

void Win32Frontend::SetControlText(int id, const std::string& text) {
    if (HWND control = Control(id); control != nullptr) {
        ::SetWindowTextW(control, Wide(text).c_str());
    }
}

void Win32Frontend::SetProgressPosition(int position) {
    // A position outside the range shows as the nearer end.
    const int shown = std::clamp(position, m_progressRange.first, m_progressRange.second);
    ::SendMessageW(Control(res::kProgressBar), PBM_SETPOS, static_cast<WPARAM>(shown), 0);
}

void Win32Frontend::ShowNote(const std::string& text) {
    SetStatusText(text);
    ShowControl(res::kStatusLine, true);
}

// --- Frontend

void Win32Frontend::SetCaption(const std::string& text) {
    ::SetWindowTextW(m_window, Wide(text).c_str());
}

bool Win32Frontend::AppendSystemMenuSeparator() {
    HMENU menu = ::GetSystemMenu(m_window, FALSE);
    return menu != nullptr && ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
}

void Win32Frontend::AppendSystemMenuItem(unsigned command, const std::string& text) {
    if (HMENU menu = ::GetSystemMenu(m_window, FALSE); menu != nullptr) {
        ::AppendMenuW(menu, MF_STRING, command, Wide(text).c_str());
    }
}

void Win32Frontend::SetProgressRange(int low, int high) {
    m_progressRange = {low, std::max(low, high)};
    ::SendMessageW(Control(res::kProgressBar), PBM_SETRANGE32, static_cast<WPARAM>(low),
                   m_progressRange.second);
}

TreeItemHandle Win32Frontend::InsertTreeItem(TreeItemHandle parent, const std::string& text,
                                             int childCount, DriveItem* data) {
    std::wstring wide = Wide(text);
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent == kTreeTop ? TVI_ROOT : TreeItemOf(parent);
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_CHILDREN | TVIF_PARAM;
    insert.item.pszText = wide.data();
    // A button before the children are known.
    insert.item.cChildren = childCount > 0 ? 1 : 0;
    insert.item.lParam = reinterpret_cast<LPARAM>(data);
    const auto item = reinterpret_cast<HTREEITEM>(
        ::SendMessageW(m_tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (item == nullptr) {
        throw std::runtime_error("the tree took no item");
    }
    return HandleOf(item);
}

void Win32Frontend::SetTreeChildCount(TreeItemHandle item, int childCount) {
    TVITEMW change{};
    change.mask = TVIF_HANDLE | TVIF_CHILDREN;
    change.hItem = TreeItemOf(item);
    change.cChildren = childCount > 0 ? 1 : 0;
    ::SendMessageW(m_tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&change));
}

void Win32Frontend::SetTreeItemText(TreeItemHandle item, const std::string& text) {
    std::wstring wide = Wide(text);
    TVITEMW change{};
    change.mask = TVIF_HANDLE | TVIF_TEXT;
    change.hItem = TreeItemOf(item);
    change.pszText = wide.data();
    ::SendMessageW(m_tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&change));
}

void Win32Frontend::DeleteAllTreeItems() {
    ::SendMessageW(m_tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

void Win32Frontend::SelectTreeItem(TreeItemHandle item) {
    // The view sends its selection notice before this returns: the handler has
    // run to its end then.
    ::SendMessageW(m_tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(TreeItemOf(item)));
}

void Win32Frontend::InsertListColumn(const std::string& title, ColumnAlignment alignment,
                                     int width) {
    std::wstring wide = Wide(title);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = alignment == ColumnAlignment::Right ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.cx = width;
    column.pszText = wide.data();
    column.iSubItem = m_columns;
    if (::SendMessageW(m_list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(m_columns),
                       reinterpret_cast<LPARAM>(&column)) >= 0) {
        ++m_columns;
    }
}

void Win32Frontend::DeleteAllListRows() {
    ::SendMessageW(m_list, LVM_DELETEALLITEMS, 0, 0);
    m_rowTexts.clear();
}

// The list is kept in the order every front end has (ListSortsBefore), not in
// the list view's own (LVS_SORTASCENDING sorts by the user's locale): each row
// goes in after the names that sort before it or equal it.
int Win32Frontend::InsertListRow(const std::string& text, DriveItem* data) {
    const auto at = std::upper_bound(m_rowTexts.begin(), m_rowTexts.end(), text,
                                     [](const std::string& value, const std::string& row) {
                                         return ListSortsBefore(value, row);
                                     });
    std::wstring wide = Wide(text);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = static_cast<int>(at - m_rowTexts.begin());
    item.pszText = wide.data();
    item.lParam = reinterpret_cast<LPARAM>(data);
    const auto row = static_cast<int>(
        ::SendMessageW(m_list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0) {
        throw std::runtime_error("the list took no row");
    }
    m_rowTexts.insert(m_rowTexts.begin() + std::min<std::ptrdiff_t>(row, std::ssize(m_rowTexts)),
                      text);
    return row;
}

void Win32Frontend::SetListItemText(int row, int column, const std::string& text) {
    if (row < 0 || row >= std::ssize(m_rowTexts) || column < 0 || column >= m_columns) {
        throw std::out_of_range("no list cell " + std::to_string(row) + ", " +
                                std::to_string(column));
    }
    std::wstring wide = Wide(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = wide.data();
    ::SendMessageW(m_list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&item));
}

void Win32Frontend::RunMainDialog(MainDialog& dialog) {
    m_dialog = &dialog;
    m_modal = true;
    m_closed = false;
    const INT_PTR result = ::DialogBoxParamW(m_resources, MAKEINTRESOURCEW(res::kMainDialog),
                                             nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
    if (result == -1) {
        // No template, or the controls' classes missing: nothing was shown at all.
        ::MessageBoxW(nullptr, L"The window could not be opened.", Wide(ApplicationTitle()).c_str(),
                      MB_OK | MB_ICONHAND);
    }
    m_window = m_tree = m_list = m_statusTip = nullptr;
    m_dialog = nullptr;
}

HWND Win32Frontend::OpenMainDialog(MainDialog& dialog) {
    m_dialog = &dialog;
    m_modal = false;
    m_closed = false;
    HWND window = ::CreateDialogParamW(m_resources, MAKEINTRESOURCEW(res::kMainDialog), nullptr,
                                       DialogProc, reinterpret_cast<LPARAM>(this));
    if (window != nullptr && !m_closed) {
        ::ShowWindow(window, SW_SHOW);
        ::UpdateWindow(window);
    }
    return window;
}

void Win32Frontend::CloseMainDialog() {
    m_closed = true;
    if (m_window == nullptr) {
        return;
    }
    if (m_modal) {
        // The modal loop ends once the handlers nested in it have returned.
        ::EndDialog(m_window, 0);
    } else {
        ::ShowWindow(m_window, SW_HIDE);
    }
}

void Win32Frontend::UserClose() {
    if (m_closed) {
        return;
    }
    if (m_dialog == nullptr || m_dialog->OnClose()) {
        CloseMainDialog();
    }
}

void Win32Frontend::RunAboutDialog(const res::DialogTemplate& about) {
    ::DialogBoxParamW(m_resources, MAKEINTRESOURCEW(about.id), Owner(), AboutProc, 0);
}

std::vector<std::string> Win32Frontend::AskDiskImages() {
    std::wstring buffer(kPathCharacters, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = Owner();
    dialog.lpstrFilter =
        L"Disk images (*.img;*.ima;*.bin;*.raw;*.dd;*.iso)\0*.img;*.ima;*.bin;*.raw;*.dd;*.iso\0"
        L"All files (*.*)\0*.*\0";
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = kPathCharacters;
    dialog.lpstrTitle = L"Open Disk Image";
    dialog.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY |
                   OFN_NOCHANGEDIR;
    std::vector<std::string> paths;
    if (!::GetOpenFileNameW(&dialog)) {
        return paths;
    }
    // One file: its full path. Several: the folder, then each name, each ending in
    // a null character, the list in two.
    const std::wstring first = buffer.c_str();
    const wchar_t* name = buffer.c_str() + first.size() + 1;
    if (*name == L'\0') {
        paths.push_back(NarrowText(first));
        return paths;
    }
    while (*name != L'\0') {
        const std::wstring file = name;
        paths.push_back(NarrowText(first + L"\\" + file));
        name += file.size() + 1;
    }
    return paths;
}

// --- The dialogs' messages

INT_PTR CALLBACK Win32Frontend::DialogProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32Frontend*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->m_window = window;
        self->m_tree = ::GetDlgItem(window, res::kFolderTree);
        self->m_list = ::GetDlgItem(window, res::kFileList);
    }
    auto* self = reinterpret_cast<Win32Frontend*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr || self->m_window != window) {
        return FALSE;
    }
    return self->HandleMessage(message, wParam, lParam);
}

INT_PTR Win32Frontend::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            // The icon of the caption, the task bar and the minimised window.
            m_icon = ::LoadIconW(m_resources, MAKEINTRESOURCEW(res::kApplicationIcon));
            ::SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
            ::SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
            // A name longer than its column shows whole under the mouse.
            ::SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, kListStyle, kListStyle);
            ::DragAcceptFiles(m_window, TRUE);
            AddStatusTip();
            Guarded([this] {
                if (m_dialog != nullptr) {
                    m_dialog->InitializeDialog();
                }
            });
            return TRUE;  // the system sets the first focus
        }
        case kScanProgressMessage:
            m_progressPending = false;
            Guarded([this] {
                if (m_dialog != nullptr) {
                    m_dialog->OnScanProgress();
                }
            });
            ::SetWindowLongPtrW(m_window, DWLP_MSGRESULT, 0);
            return TRUE;
        case WM_NOTIFY:
            if (lParam != 0 && HandleNotify(*reinterpret_cast<const NMHDR*>(lParam))) {
                ::SetWindowLongPtrW(m_window, DWLP_MSGRESULT, 0);
                return TRUE;
            }
            return FALSE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case res::kCopyFileButton:
                    if (HIWORD(wParam) == BN_CLICKED) {
                        Guarded([this] {
                            if (m_dialog != nullptr) {
                                m_dialog->OnCopyFile();
                            }
                        });
                    }
                    return TRUE;
                case IDOK:
                case IDCANCEL:
                    // Enter and Escape end the dialog, as its close box does.
                    Guarded([this] { UserClose(); });
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            Guarded([this] { UserClose(); });
            return TRUE;
        case WM_SYSCOMMAND: {
            // The system keeps the low four bits of a command for itself.
            bool handled = false;
            Guarded([&] {
                handled = m_dialog != nullptr &&
                          m_dialog->OnSystemCommand(static_cast<unsigned>(wParam & 0xFFF0));
            });
            if (handled) {
                ::SetWindowLongPtrW(m_window, DWLP_MSGRESULT, 0);
            }
            return handled ? TRUE : FALSE;
        }
        case WM_QUERYDRAGICON:
            // The icon the shell drags for the window (its result is the answer).
            return reinterpret_cast<INT_PTR>(m_icon);
        case WM_CONTEXTMENU:
            Guarded([&] { ShowContextMenu(lParam); });
            return TRUE;
        case WM_DROPFILES:
            Guarded([&] { DropFiles(reinterpret_cast<HDROP>(wParam)); });
            ::DragFinish(reinterpret_cast<HDROP>(wParam));
            return TRUE;
        default:
            return FALSE;
    }
}

// The tree's and the list's notices. Both forms of the tree's are taken: the
// view sends the wide ones to a wide dialog, and the parts read here are the
// same in both.
bool Win32Frontend::HandleNotify(const NMHDR& header) {
    if (m_statusTip != nullptr && header.hwndFrom == m_statusTip &&
        header.code == TTN_GETDISPINFOW) {
        // Asked as the mouse comes: the status line's text then, whole.
        auto& tip = const_cast<NMTTDISPINFOW&>(reinterpret_cast<const NMTTDISPINFOW&>(header));
        HWND status = Control(res::kStatusLine);
        m_statusTipText.assign(static_cast<std::size_t>(::GetWindowTextLengthW(status)) + 1, L'\0');
        ::GetWindowTextW(status, m_statusTipText.data(), static_cast<int>(m_statusTipText.size()));
        m_statusTipText.resize(m_statusTipText.size() - 1);
        tip.lpszText =
            ::IsWindowVisible(status) ? m_statusTipText.data() : const_cast<wchar_t*>(L"");
        return true;
    }
    if (m_dialog == nullptr) {
        return false;
    }
    if (header.idFrom == static_cast<UINT_PTR>(res::kFolderTree)) {
        const bool selection = header.code == TVN_SELCHANGEDW || header.code == TVN_SELCHANGEDA;
        const bool expanding =
            header.code == TVN_ITEMEXPANDINGW || header.code == TVN_ITEMEXPANDINGA;
        if (!selection && !expanding) {
            return false;
        }
        const auto& notice = reinterpret_cast<const NMTREEVIEWW&>(header);
        TreeNotification notification{HandleOf(notice.itemNew.hItem), 0, nullptr};
        if (notice.itemNew.hItem != nullptr) {
            // The state and the data as the view holds them now, whatever the notice carried.
            TVITEMW item{};
            item.mask = TVIF_HANDLE | TVIF_STATE | TVIF_PARAM;
            item.hItem = notice.itemNew.hItem;
            item.stateMask = TVIS_EXPANDEDONCE;
            if (::SendMessageW(m_tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) {
                notification.state = item.state & TVIS_EXPANDEDONCE;
                notification.data = reinterpret_cast<DriveItem*>(item.lParam);
            }
        }
        Guarded([&] {
            if (selection) {
                m_dialog->OnTreeSelectionChanged(notification);
            } else {
                m_dialog->OnTreeItemExpanding(notification);
            }
        });
        return true;
    }
    if (header.idFrom == static_cast<UINT_PTR>(res::kFileList) && header.code == NM_DBLCLK) {
        Guarded([this] { m_dialog->OnFileListDoubleClick(); });
        return true;
    }
    return false;
}

// The status line cuts a long text (a disk that could not be opened, with its
// path and the reason) at its end: under the mouse it shows whole.
void Win32Frontend::AddStatusTip() {
    HWND status = Control(res::kStatusLine);
    m_statusTip = ::CreateWindowExW(
        WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr, m_resources, nullptr);
    if (m_statusTip == nullptr || status == nullptr) {
        return;
    }
    // The line lets the mouse through to the dialog: the tip watches the dialog
    // where the line lies.
    RECT place{};
    ::GetWindowRect(status, &place);
    ::MapWindowPoints(nullptr, m_window, reinterpret_cast<POINT*>(&place), 2);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = m_window;
    tool.uId = static_cast<UINT_PTR>(res::kStatusLine);
    tool.rect = place;
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(m_statusTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    ::SendMessageW(m_statusTip, TTM_SETMAXTIPWIDTH, 0, 600);
}

// The window's commands beside the system menu's (Open Disk Image, About), at
// the mouse or, from the keyboard, at the window's corner.
void Win32Frontend::ShowContextMenu(LPARAM lParam) {
    HMENU menu = ::CreatePopupMenu();
    if (menu == nullptr) {
        return;
    }
    for (const auto& [command, text] : MainDialog::WindowCommands()) {
        const bool enabled = m_dialog == nullptr || m_dialog->CommandEnabled(command);
        ::AppendMenuW(menu, MF_STRING | (enabled ? 0u : MF_GRAYED), command, Wide(text).c_str());
    }
    POINT at{};
    if (lParam == -1) {
        RECT frame{};
        ::GetWindowRect(m_window, &frame);
        at = {frame.left + 8, frame.top + 8};
    } else {
        at = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    }
    const auto command = static_cast<unsigned>(::TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, m_window, nullptr));
    ::DestroyMenu(menu);
    if (command != 0 && m_dialog != nullptr) {
        m_dialog->OnSystemCommand(command);
    }
}

void Win32Frontend::DropFiles(HDROP drop) {
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::vector<std::string> paths;
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        ::DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size()));
        paths.push_back(NarrowText(path.c_str()));
    }
    if (m_dialog != nullptr && !paths.empty()) {
        m_dialog->OnDropFiles(paths);
    }
}

INT_PTR CALLBACK Win32Frontend::AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            // Over the middle of the main window rather than at its corner.
            HWND owner = ::GetWindow(window, GW_OWNER);
            RECT box{};
            RECT over{};
            if (owner != nullptr && ::GetWindowRect(window, &box) &&
                ::GetWindowRect(owner, &over)) {
                ::SetWindowPos(window, nullptr,
                               over.left + ((over.right - over.left) - (box.right - box.left)) / 2,
                               over.top + ((over.bottom - over.top) - (box.bottom - box.top)) / 2,
                               0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(window, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            ::EndDialog(window, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace moravel::win32
