#include "MainDialog.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <new>
#include <string>

#include "AboutDialog.h"
#include "DiskText.h"
#include "FormatSize.h"
#include "SourceOptions.h"
#include "disk/PathText.h"
#include "tree/FatDate.h"

namespace moravel {

namespace {

// A label's eleven characters, shown as one name ("RECORDINGS"): its display
// name splits them as a short name's eight and three ("RECORDIN.GS ").
std::string LabelText(const DriveItem& label) {
    std::string text(label.DisplayName());
    std::size_t dot = text.size();
    for (int characters = 0; characters < 4 && dot > 0;) {
        --dot;
        if ((static_cast<unsigned char>(text[dot]) & 0xC0) != 0x80) {
            ++characters;
        }
    }
    if (dot < text.size() && text[dot] == '.') {
        text.erase(dot, 1);
    }
    const auto end = text.find_last_not_of(' ');
    return text.substr(0, end == std::string::npos ? 0 : end + 1);
}

// "2004-05-18 20:15": when the file last changed; nothing where its entry holds
// no such moment.
std::string ModifiedText(const DriveItem& file) {
    const auto moment = DecodeFatDateTime(file.m_writeDate, file.m_writeTime);
    return moment ? ShortDateText(*moment) : std::string{};
}

// Removes an item from the running scans when its scan's frame ends, also when
// a handler nested in one of its pump steps throws.
class ScanFrame {
public:
    ScanFrame(std::set<const DriveItem*>& running, const DriveItem* item)
        : m_running(running), m_item(item) {
        m_running.insert(item);
    }
    ~ScanFrame() { m_running.erase(m_item); }
    ScanFrame(const ScanFrame&) = delete;
    ScanFrame& operator=(const ScanFrame&) = delete;

private:
    std::set<const DriveItem*>& m_running;
    const DriveItem* m_item;
};

}  // namespace

MainDialog::MainDialog(Frontend& frontend, DriveAccessOptions options, CopyTarget* target,
                       std::vector<std::string> images)
    : m_frontend(frontend),
      m_copyTarget(target != nullptr ? *target : m_fileSystems),
      m_images(std::move(images)),
      m_driveAccess(frontend, std::move(options)) {}

std::vector<std::pair<unsigned, std::string>> MainDialog::WindowCommands() {
    return {{res::kOpenImageCommand, std::string(res::LoadString(res::kOpenImageMenuText))},
            {res::kRescueCopyCommand, std::string(res::LoadString(res::kRescueCopyMenuText))},
            {res::kCopyFolderCommand, std::string(res::LoadString(res::kCopyFolderMenuText))},
            {res::kRefreshCommand, std::string(res::LoadString(res::kRefreshMenuText))},
            {res::kAboutCommand, std::string(res::LoadString(res::kAboutMenuText))}};
}

bool MainDialog::CommandEnabled(unsigned command) {
    switch (command & ~0xFu) {
        case res::kRescueCopyCommand:
        case res::kPreviewCommand:
            return m_runningCopy == nullptr && SelectedFiles().size() == 1;
        case res::kCopyFileCommand:
            return m_runningCopy == nullptr && !SelectedFiles().empty();
        case res::kCopyFolderCommand:
            return m_runningCopy == nullptr && m_selected != nullptr && IsFolder(*m_selected);
        case res::kOpenImageCommand:
            // Its dialog would hold the copy up for as long as it is open.
            return m_runningCopy == nullptr;
        default:
            return true;
    }
}

// A handler's failure must not reach the window system's event dispatch, which
// would end the program with the user's disks half read: it is said in a message
// box, and the window goes on with what it shows.
template <class Handler>
void MainDialog::Guarded(Handler&& handler) {
    struct Running {
        int& handlers;
        ~Running() { --handlers; }
    } running{++m_handlers};
    try {
        handler();
    } catch (const std::bad_alloc&) {
        ShowFailureOf("There is not enough memory for this. What was read before is still shown.");
    } catch (const std::exception& failure) {
        ShowFailureOf(std::string("This could not be done: ") + failure.what());
    } catch (...) {
        ShowFailureOf("This could not be done: an unknown failure.");
    }
}

void MainDialog::ShowFailureOf(const std::string& text) {
    try {
        ShowFailure(m_frontend, text);
    } catch (...) {
        // Not even the message box could be shown: the window goes on regardless.
    }
}

// What the disks and the drive tree could not do, a message box each, in order.
void MainDialog::ShowErrors(const Errors& errors) {
    for (const Error& error : errors) {
        ShowFailure(m_frontend, error.reason);
    }
}

void MainDialog::InitializeDialog() {
    Guarded([this] { InitializeDialogNow(); });
}

void MainDialog::InitializeDialogNow() {
    const std::string about(res::LoadString(res::kAboutMenuText));
    if (!about.empty() && m_frontend.AppendSystemMenuSeparator()) {
        m_frontend.AppendSystemMenuItem(res::kAboutCommand, about);
    }
    m_frontend.SetCaption(kMainCaption);
    m_frontend.SetProgressRange(0, 100);
    m_frontend.SetProgressPosition(0);
    // Widths in the pixels of the layout's font: the four fit the list's width.
    m_frontend.InsertListColumn("File Name", ColumnAlignment::Left, 150);
    m_frontend.InsertListColumn("Size", ColumnAlignment::Right, 70);
    m_frontend.InsertListColumn("Size (bytes)", ColumnAlignment::Right, 80);
    m_frontend.InsertListColumn("Modified", ColumnAlignment::Left, 105);
    FillTree();
}

// The disks, opened afresh, as the tree's top level; then the images added before.
void MainDialog::FillTree() {
    ShowErrors(m_driveAccess.Open());
    const auto disks = static_cast<std::size_t>(m_driveAccess.GetFloppyCount()) +
                       static_cast<std::size_t>(std::max(m_driveAccess.GetHardDiskCount(), 0));
    for (std::size_t i = 0; i < disks; ++i) {
        InsertDisk(m_driveAccess.GetDisks()[i]);
    }
    ShowOpenProblems();
    AddDiskImages(m_images, false);
}

void MainDialog::InsertDisk(DriveItem& disk) {
    const TreeItemHandle item = m_frontend.InsertTreeItem(kTreeTop, DiskText(disk), 1, &disk);
    m_frontend.SetTreeItemTip(item, DiskDetailsText(disk));
}

// "Hard Disk 2 — WDC WD2500, 232.9 GB": the disk's node.
std::string MainDialog::DiskText(const DriveItem& disk) const {
    const std::optional<std::string> path = m_driveAccess.SourcePath(disk.m_drive);
    return DiskNodeText(disk.DisplayName(), path ? DescribeDisk(*path) : DiskDetails{},
                        m_driveAccess.DiskBytes(disk.m_drive));
}

void MainDialog::OnRefresh() {
    Guarded([this] { RefreshDisks(); });
}

void MainDialog::OnDisksChanged() {
    Guarded([this] {
        if (m_refreshPending || m_driveAccess.MachineDisksChanged()) {
            RefreshDisks();
        }
    });
}

// Items of the disks read before are destroyed: nothing that runs may still
// hold one (a copy, a scan, a handler this one is nested in).
void MainDialog::RefreshDisks() {
    if (m_handlers > 1 || m_runningCopy != nullptr || !m_scansRunning.empty()) {
        m_refreshPending = true;
        return;
    }
    m_refreshPending = false;
    m_frontend.DeleteAllTreeItems();
    ClearList();
    m_selected = nullptr;
    m_inTree.clear();
    m_volumeOfRoot.clear();
    m_rootLabelShown.clear();
    m_frontend.ShowControl(m_status, false);
    FillTree();
}

// "Hard Disk 2: WDC WD5000AAKS-00A7B0, 465.8 GB, USB, /dev/sdb": what tells the
// disk from the others; empty where nothing is known (the BIOS services).
std::string MainDialog::DiskDetailsText(const DriveItem& disk) const {
    const std::optional<std::string> path = m_driveAccess.SourcePath(disk.m_drive);
    if (!path) {
        return {};
    }
    const DiskDetails details = DescribeDisk(*path);
    std::string text;
    const auto add = [&](const std::string& part) {
        if (!part.empty()) {
            text += (text.empty() ? "" : ", ") + part;
        }
    };
    add(details.model);
    if (const std::optional<std::uint64_t> bytes = m_driveAccess.DiskBytes(disk.m_drive)) {
        add(FormatSize(*bytes));
    }
    add(details.bus);
    add(details.device);
    return std::string(disk.DisplayName()) + ": " + text;
}

// A disk named on the command line that could not be opened (or was named twice),
// or none of the machine's disks readable: the status line says which, why, and
// how to get in.
void MainDialog::ShowOpenProblems() {
    std::string text;
    for (const OpenError& problem : m_driveAccess.OpenProblems()) {
        text +=
            (text.empty() ? "" : "; ") + problem.path + " could not be opened: " + problem.reason;
    }
    for (const std::string& note : m_driveAccess.OpenNotes()) {
        text += (text.empty() ? "" : "; ") + note;
    }
    if (text.empty() && m_driveAccess.NoFoundDiskOpened()) {
        text = NoDiskOpenedText();
    }
    if (!text.empty()) {
        m_frontend.SetStatusText(text);
        m_frontend.ShowControl(m_status, true);
    }
}

// Through udisks2, the user was asked for the rights and they were refused: the
// refusal is what happened. Without it, how to get the rights.
std::string MainDialog::NoDiskOpenedText() const {
    const auto& unreadable = m_driveAccess.DetectProblems();
    std::string text = "No disk could be opened:";
    for (const OpenError& problem : unreadable) {
        text += m_driveAccess.DisksFromUdisks() ? " " + OpenProblemText(problem) + "."
                                                : " " + problem.path + " (" + problem.reason + ")";
    }
    if (m_driveAccess.DisksFromUdisks()) {
        return text +
               " Open a disk image from the window's menu, or choose Refresh (F5) to "
               "be asked again.";
    }
    const std::string group = DeviceGroup(unreadable.front().path);
    if (group.empty()) {
        return text + ". Open a disk image from the window's menu.";
    }
    return text + ". Join the group \"" + group + "\" (sudo adduser $USER " + group +
           ", then log in again), or open a disk image from the window's menu.";
}

bool MainDialog::OnSystemCommand(unsigned command) {
    // A key may reach a command its menu entry shows disabled.
    if (!CommandEnabled(command)) {
        return true;
    }
    switch (command & ~0xFu) {
        case res::kAboutCommand:
            Guarded([this] {
                AboutDialog about(m_frontend);
                about.DoModal();
            });
            return true;
        case res::kOpenImageCommand:
            OnOpenDiskImage();
            return true;
        case res::kRescueCopyCommand:
            OnRescueCopy();
            return true;
        case res::kRefreshCommand:
            OnRefresh();
            return true;
        case res::kCopyFolderCommand:
            OnCopyFolder();
            return true;
        default:
            return false;
    }
}

int MainDialog::OnScanProgress() {
    Guarded([this] { m_frontend.SetProgressPosition(m_scanProgress); });
    return 0;
}

// On a row it is Copy File; elsewhere it clears the status line.
void MainDialog::OnFileListDoubleClick() {
    if (m_runningCopy == nullptr && m_frontend.SelectedListRow() >= 0) {
        OnCopyFile();
        return;
    }
    Guarded([this] { m_frontend.ShowControl(m_status, false); });
}

void MainDialog::OnTreeItemExpanding(const TreeNotification& notification) {
    Guarded([&] {
        if ((notification.state & kTreeExpandedOnce) != 0) {
            return;  // its children were inserted before
        }
        m_frontend.SelectTreeItem(notification.item);
    });
}

MainDialog::Placement MainDialog::PlacementOf(const DriveItem& child) {
    if (child.IsVolumeLabel()) {
        return Placement::Nowhere;  // the volume's node shows it
    }
    if (child.IsFile()) {
        return Placement::List;
    }
    return child.IsFatCopy() ? Placement::Nowhere : Placement::Tree;
}

void MainDialog::AddFileRow(DriveItem& file) {
    // A file manager's names: long, or short without padding and in the small
    // letters its entry's case flags ask for ("TRAILER.TS", "readme.txt").
    const int row = m_frontend.InsertListRow(std::string(file.PlainName()), &file);
    m_rowOf[&file] = row;
    ShowFileSize(file);
    m_frontend.SetListItemText(row, 3, ModifiedText(file));
}

// "16-Bit FAT Disk — RECORDINGS", from the boot sector as the volume is opened,
// unless its root directory's label (which DOS and Windows show) was read before.
void MainDialog::ShowBootLabel(const TreeNotification& volume) {
    const DriveItem& item = *volume.data;
    if (item.m_kind == ItemKind::Volume && !item.Label().empty() &&
        !m_rootLabelShown.contains(&item)) {
        m_frontend.SetTreeItemText(volume.item, std::string(item.PlainName()) + " \xE2\x80\x94 " +
                                                    std::string(item.Label()));
    }
}

// "32-Bit FAT Disk — RECORDINGS", once its root directory's label was read.
void MainDialog::ShowVolumeLabel(const DriveItem& root, const std::vector<DriveItem*>& children) {
    const auto volume = m_volumeOfRoot.find(&root);
    if (volume == m_volumeOfRoot.end()) {
        return;
    }
    for (const DriveItem* child : children) {
        if (const std::string label = child->IsVolumeLabel() ? LabelText(*child) : "";
            !label.empty()) {
            m_frontend.SetTreeItemText(
                volume->second.item,
                std::string(volume->second.data->PlainName()) + " \xE2\x80\x94 " + label);
            m_rootLabelShown.insert(volume->second.data);
            return;
        }
    }
}

void MainDialog::OnTreeSelectionChanged(const TreeNotification& notification) {
    Guarded([&] {
        try {
            SelectionChanged(notification);
        } catch (...) {
            // The scan that failed says nothing more; one further out still runs.
            if (m_scansRunning.empty()) {
                m_frontend.ShowControl(m_progress, false);
                m_frontend.ShowControl(m_status, false);
            }
            throw;
        }
    });
}

void MainDialog::ShowScanning() {
    m_frontend.SetStatusText(kScanningText);
    m_frontend.ShowControl(m_status, true);
    m_frontend.ShowControl(m_progress, true);
}

// Any handler may run inside a scan's pump step, a selection of another item or
// of the item being scanned among them. The tree gets each child once, from
// whichever frame has it first; the list belongs to the item selected last, and
// is filled by the frame that scanned it, when its scan ends.
void MainDialog::SelectionChanged(const TreeNotification& notification) {
    ClearList();
    const std::uint64_t selection = ++m_selections;
    m_selected = notification.item == kTreeTop ? nullptr : notification.data;
    if (m_selected == nullptr) {
        return;  // nothing to expand: the list stays empty
    }
    DriveItem& data = *notification.data;
    ShowScanning();
    if (m_scansRunning.contains(&data)) {
        return;  // its scan, further out, fills the list when it ends
    }

    std::vector<DriveItem*> children;
    {
        const ScanFrame frame(m_scansRunning, &data);
        // A copy of the children: a nested selection during the scan leaves it alone.
        // Names first: the files' sizes follow once the list shows them.
        Expansion expansion = m_driveAccess.ExpandItem(data, m_scanProgress, true);
        ShowErrors(expansion.errors);
        children = std::move(expansion.children);
    }
    if (!InsertTreeChildren(notification, children)) {
        m_frontend.SetTreeChildCount(notification.item, 0);
    }
    ShowBootLabel(notification);
    ShowVolumeLabel(data, children);
    if (m_selected == &data) {
        if (selection != m_selections) {
            ClearList();  // a nested selection of this item showed some
        }
        FillList(children);
    }
    ShowTrueSizes(data, children);
    EndScanning(data, children.empty());
}

// Each file's size as its chain is walked, into its row while the folder is
// the one shown; the window is served meanwhile.
void MainDialog::ShowTrueSizes(DriveItem& folder, const std::vector<DriveItem*>& children) {
    const std::uint64_t selection = m_selections;
    const auto shown = [&] { return m_selected == &folder && m_selections == selection; };
    if (std::none_of(children.begin(), children.end(),
                     [](const DriveItem* child) { return child->m_sizePending; })) {
        return;
    }
    // A second phase with its own progress: the names are in, and usable.
    if (shown() && m_runningCopy == nullptr) {
        m_scanProgress = 0;
        m_frontend.SetStatusText(kSizingText);
    }
    Errors errors;
    {
        const ScanFrame frame(m_scansRunning, &folder);
        errors = m_driveAccess.MeasureSizes(folder, m_scanProgress, [&](DriveItem& file) {
            if (shown()) {
                ShowFileSize(file);
            }
        });
    }
    ShowErrors(errors);
    if (m_selected == &folder && !shown()) {
        // A nested selection of this folder left its list to this frame.
        ClearList();
        FillList(children);
    }
}

void MainDialog::ShowFileSize(const DriveItem& file) {
    const auto row = m_rowOf.find(&file);
    if (row == m_rowOf.end()) {
        return;
    }
    const bool pending = file.m_sizePending;
    // "…": the true size is not known yet (a recording's entry holds it modulo 4 GiB).
    m_frontend.SetListItemText(row->second, 1,
                               pending ? kSizePendingText : FormatSize(file.m_fileSize));
    m_frontend.SetListItemText(row->second, 2, pending ? "" : std::to_string(file.m_fileSize));
}

// Inserts the children that belong in the tree and are not there yet; true when
// the item has any.
bool MainDialog::InsertTreeChildren(const TreeNotification& parent,
                                    const std::vector<DriveItem*>& children) {
    bool found = false;
    for (DriveItem* child : children) {
        if (PlacementOf(*child) != Placement::Tree) {
            continue;
        }
        found = true;
        if (m_inTree.insert(child).second) {
            m_frontend.InsertTreeItem(parent.item, std::string(child->PlainName()), 1, child);
            if (parent.data != nullptr && parent.data->m_kind == ItemKind::Volume) {
                m_volumeOfRoot[child] = parent;  // the root directory
            }
        }
    }
    return found;
}

void MainDialog::ClearList() {
    m_frontend.DeleteAllListRows();
    m_rowOf.clear();
}

void MainDialog::FillList(const std::vector<DriveItem*>& children) {
    std::vector<DriveItem*> files;
    for (DriveItem* child : children) {
        if (PlacementOf(*child) == Placement::List) {
            AddFileRow(*child);
            files.push_back(child);
        }
    }
    // Rows go in name order: where each one ended up is known once all are in.
    m_rowOf.clear();
    for (int row = 0; row < static_cast<int>(files.size()); ++row) {
        m_rowOf[m_frontend.ListRowData(row)] = row;
    }
}

void MainDialog::EndScanning(const DriveItem& item, bool empty) {
    if (!m_scansRunning.empty()) {
        // A scan further out goes on: the window keeps saying so.
        if (m_runningCopy == nullptr) {
            ShowScanning();
        }
        return;
    }
    m_frontend.ShowControl(m_progress, false);
    // A partition chain that links back is cut here: the status line says why
    // the partition shows nothing.
    if (const auto sector = m_driveAccess.RepeatedRecord(item); empty && sector) {
        m_frontend.SetStatusText("The boot record of this extended partition (sector " +
                                 std::to_string(*sector) +
                                 ") was read before: the disk's partition chain links back "
                                 "to it, and is not followed again.");
        return;
    }
    // A disk selected says which it is.
    if (const std::string details = item.m_kind == ItemKind::Disk && m_selected == &item
                                        ? DiskDetailsText(item)
                                        : std::string{};
        !details.empty()) {
        m_frontend.SetStatusText(details);
        return;
    }
    m_frontend.ShowControl(m_status, false);
}

void MainDialog::OnOpenDiskImage() {
    Guarded([this] { AddDiskImages(m_frontend.AskDiskImages(), true); });
}

void MainDialog::OnDropFiles(const std::vector<std::string>& paths) {
    Guarded([&] { AddDiskImages(paths, true); });
}

// Each image becomes a new disk at the end of the tree: a floppy when it has a
// floppy's size, a hard disk otherwise. What cannot be added is said in the
// status line.
void MainDialog::AddDiskImages(const std::vector<std::string>& paths, bool remember) {
    std::string problems;
    for (const std::string& path : paths) {
        std::error_code error;
        const std::uint64_t size = std::filesystem::file_size(PathFromUtf8(path), error);
        const Result<DriveItem*> disk = m_driveAccess.AddDisk(path, !error && HasFloppySize(size));
        if (!disk) {
            problems += (problems.empty() ? "" : "; ") + path +
                        " could not be opened: " + disk.error().reason;
            continue;
        }
        InsertDisk(**disk);
        if (remember) {
            m_images.push_back(path);
        }
    }
    if (!problems.empty()) {
        m_frontend.SetStatusText(problems);
        m_frontend.ShowControl(m_status, true);
    }
}

}  // namespace moravel

namespace moravel {

void MainDialog::OnCopyFile() {
    Guarded([this] {
        if (m_runningCopy != nullptr) {
            m_runningCopy->RequestStop();  // the button says Stop
            return;
        }
        const std::vector<DriveItem*> files = SelectedFiles();
        MeasureNow(files);
        if (files.size() > 1) {
            CopyBatch(files);
            return;
        }
        CopyFile(false);
    });
}

void MainDialog::OnCopyFolder() {
    Guarded([this] {
        if (m_runningCopy == nullptr && m_selected != nullptr && IsFolder(*m_selected)) {
            CopyBatch({m_selected});
        }
    });
}

std::vector<DriveItem*> MainDialog::SelectedFiles() {
    std::vector<DriveItem*> files;
    for (const int row : m_frontend.SelectedListRows()) {
        if (DriveItem* file = m_frontend.ListRowData(row); file != nullptr && file->IsFile()) {
            files.push_back(file);
        }
    }
    return files;
}

template <class Command, class... Args>
void MainDialog::RunCopy(Command& command, Args&&... args) {
    // Also when a handler throws inside one of the copy's pump steps: no later
    // close request may reach a copy that is gone.
    struct Running {
        RunningCopy*& slot;
        ~Running() { slot = nullptr; }
    } running{m_runningCopy};
    m_runningCopy = &command;
    command.Run(std::forward<Args>(args)...);
    if (m_closeAfterCopy) {
        m_frontend.CloseMainDialog();
    }
}

// Whatever the folder dialog is given, a copy never overwrites a disk being
// read; each source is named in the summary by the name the window shows.
void MainDialog::CopyBatch(const std::vector<DriveItem*>& sources) {
    SourceGuard target(m_copyTarget, m_driveAccess.SourcePaths());
    BatchCopyCommand copy(m_frontend, m_driveAccess, target, Controls());
    std::vector<BatchCopyCommand::Source> named;
    for (DriveItem* source : sources) {
        named.push_back({source, std::string(source->PlainName())});
    }
    RunCopy(copy, named);
}

void MainDialog::MeasureNow(const std::vector<DriveItem*>& files) {
    for (DriveItem* file : files) {
        if (file->m_sizePending) {
            m_driveAccess.MeasureSize(*file);
            ShowFileSize(*file);
        }
    }
}

void MainDialog::OnRescueCopy() {
    Guarded([this] {
        if (m_runningCopy == nullptr) {
            MeasureNow(SelectedFiles());
            CopyFile(true);
        }
    });
}

std::optional<MainDialog::FileAside> MainDialog::OpenSelectedFileAside() {
    std::optional<FileAside> opened;
    Guarded([&] {
        const std::vector<DriveItem*> files = SelectedFiles();
        if (m_runningCopy != nullptr || files.size() != 1) {
            return;
        }
        DriveItem& file = *files.front();
        MeasureNow(files);
        Result<std::unique_ptr<FileReader>> reader = FileReader::OpenAside(m_driveAccess, file);
        if (!reader) {
            ShowFailure(m_frontend, std::string(file.PlainName()) +
                                        " cannot be previewed: " + reader.error().reason + ".");
            return;
        }
        opened = FileAside{std::move(*reader), std::string(file.PlainName())};
    });
    return opened;
}

void MainDialog::CopyFile(bool rescue) {
    // Whatever the Save dialog is given, a copy never overwrites a disk being read.
    SourceGuard target(m_copyTarget, m_driveAccess.SourcePaths());
    CopyFileCommand copy(m_frontend, m_driveAccess, target, Controls());
    if (rescue) {
        copy.SetRescue(RescueSettings{});
    }
    RunCopy(copy);
}

bool MainDialog::OnClose() {
    if (m_runningCopy != nullptr && !m_closeAfterCopy &&
        m_frontend.Ask(kStopAndCloseQuestion, {kStopAndCloseVerb, kKeepCopyingVerb},
                       MessageIcon::Exclamation) != 0) {
        return false;  // the copy waited, in this pump step, for the answer, and goes on
    }
    // A scan goes on only while someone waits for it.
    m_driveAccess.StopScans();
    if (m_runningCopy == nullptr) {
        return true;
    }
    m_runningCopy->RequestStop();
    m_closeAfterCopy = true;
    return false;
}

}  // namespace moravel
