#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/Frontend.h"

namespace moravel::win32 {

// The private message that tells the window a scan stored a new percentage.
inline constexpr UINT kScanProgressMessage = WM_USER + 1;

// The Windows window as the main dialog's front end: the dialog and the About
// box from the program's resources (templates 102 and 100), the real tree view,
// list view, progress bar and status line, and their notifications turned into
// the dialog's handlers. One thread: long work pumps the queue through
// PumpMessages, in which any handler may run, nested. Texts of the core are
// UTF-8 and go to the controls as UTF-16, through the wide API.
class Win32Frontend final : public Frontend {
public:
    // The resources come from this module (the program's own by default).
    explicit Win32Frontend(HINSTANCE resources = nullptr);
    ~Win32Frontend() override;
    Win32Frontend(const Win32Frontend&) = delete;
    Win32Frontend& operator=(const Win32Frontend&) = delete;

    // CoreFrontend.
    MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                              MessageButtons buttons, MessageIcon icon) override;
    std::size_t Ask(const std::string& text, const std::vector<std::string>& verbs,
                    MessageIcon icon) override;
    void PostScanProgress() override;
    void PumpMessages() override;

    // CopyFrontend.
    int SelectedListRow() override;
    DriveItem* ListRowData(int row) override;
    std::optional<SaveChoice> AskSaveFileName(const std::string& initialName) override;
    std::optional<std::string> AskFolder(const std::string& title) override;
    void SetStatusText(const std::string& text) override;
    void ShowControl(int id, bool show) override;
    void EnableControl(int id, bool enable) override;
    void SetControlText(int id, const std::string& text) override;
    void SetProgressPosition(int position) override;
    void ShowNote(const std::string& text) override;

    // Frontend.
    void SetCaption(const std::string& text) override;
    bool AppendSystemMenuSeparator() override;
    void AppendSystemMenuItem(unsigned command, const std::string& text) override;
    void SetProgressRange(int low, int high) override;
    TreeItemHandle InsertTreeItem(TreeItemHandle parent, const std::string& text, int childCount,
                                  DriveItem* data) override;
    void SetTreeChildCount(TreeItemHandle item, int childCount) override;
    void SetTreeItemText(TreeItemHandle item, const std::string& text) override;
    void SelectTreeItem(TreeItemHandle item) override;
    void DeleteAllTreeItems() override;
    void InsertListColumn(const std::string& title, ColumnAlignment alignment, int width) override;
    void DeleteAllListRows() override;
    int InsertListRow(const std::string& text, DriveItem* data) override;
    void SetListItemText(int row, int column, const std::string& text) override;
    // The modal dialog (DialogBoxParam); returns when it is closed.
    void RunMainDialog(MainDialog& dialog) override;
    void CloseMainDialog() override;
    void RunAboutDialog(const res::DialogTemplate& about) override;
    std::vector<std::string> AskDiskImages() override;

    // The same dialog, made from the same template, without a modal loop of its
    // own: for tests that drive the window through its controls. It is shown and
    // initialised when this returns; IsClosed says whether it was closed since.
    HWND OpenMainDialog(MainDialog& dialog);
    HWND Window() const { return m_window; }
    bool IsClosed() const { return m_closed; }

    // Stand-ins for the modal dialogs that a test cannot click: the Save dialog's
    // answer for the suggested name (nothing: Cancel), and the message boxes'.
    using SaveAnswer = std::function<std::optional<std::wstring>(const std::wstring& initialName)>;
    using MessageAnswerer = std::function<MessageAnswer(const std::string& text)>;
    void AnswerSaveDialogs(SaveAnswer answer) { m_saveAnswer = std::move(answer); }
    void AnswerMessageBoxes(MessageAnswerer answer) { m_messageAnswer = std::move(answer); }

    // The pump's time slice: PumpMessages takes messages off the queue only when
    // this many milliseconds have passed since it last did (0: every call).
    void SetPumpSlice(std::uint64_t milliseconds) { m_pumpSlice = milliseconds; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool HandleNotify(const NMHDR& header);
    void AddStatusTip();
    void UserClose();
    void ShowContextMenu(LPARAM lParam);
    void DropFiles(HDROP drop);
    HWND Control(int id) const;
    HWND Owner() const;
    // Runs the window's own code for an event: a failure is said in a message
    // box rather than thrown through the system's dispatch.
    template <class Action>
    void Guarded(Action&& action) noexcept;

    HINSTANCE m_resources;
    HWND m_window = nullptr;
    HWND m_tree = nullptr;
    HWND m_list = nullptr;
    HWND m_statusTip = nullptr;
    HICON m_icon = nullptr;
    std::wstring m_statusTipText;
    MainDialog* m_dialog = nullptr;
    bool m_modal = false;
    bool m_closed = false;
    bool m_progressPending = false;
    std::uint64_t m_pumpSlice = 10;
    std::uint64_t m_lastPump = 0;
    std::pair<int, int> m_progressRange{0, 100};
    int m_columns = 0;
    std::vector<std::string> m_rowTexts;  // the first column as given, in the list's order
    std::wstring m_lastSaveFolder;
    SaveAnswer m_saveAnswer;
    MessageAnswerer m_messageAnswer;
};

}  // namespace moravel::win32
