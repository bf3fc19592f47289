#include "QtTestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <QTreeWidget>

#include "ui/SourceOptions.h"
#include "ui/qt/Controls.h"

namespace moravel::testing {

namespace {

constexpr std::uint32_t kFat32Start = 2048;
constexpr std::uint32_t kFat32Sectors = 16'000'000;
constexpr std::uint32_t kUnknownStart = kFat32Start + kFat32Sectors;

// Files whose first and last clusters hold their pattern: quick to build.
FileLayout File(const std::string& shortName, std::uint64_t size,
                const std::string& longName = "") {
    return testing::FileEntry(shortName, size, longName, Content::Ends);
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > 10'000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

std::string MakeRecorderDisk(const TempDir& dir, const std::string& name, int recordsInMany) {
    ImageFile image(dir.File(name), (kUnknownStart + 1000ull) * 512);
    image.WriteSector(
        0, PartitionSector({{0x0C, kFat32Start, kFat32Sectors}, {0x83, kUnknownStart, 1000}}));
    VolumeLayout layout;
    layout.fatBits = 32;
    layout.totalSectors = kFat32Sectors;
    layout.sectorsPerCluster = 8;
    FatVolumeBuilder volume(layout);
    volume.AddFile(volume.Root(), File("README  TXT", 700));
    const auto records = volume.AddDirectory(volume.Root(), "RECORDS    ");
    // Found on the disk in this order; listed by name, without regard to case.
    volume.AddFile(records, File("ZEBRA   TS ", 4096, "zebra.ts"));
    volume.AddFile(records, File("B       TS ", 5ull << 30, "b.ts"));
    volume.AddFile(records, File("BERRASCHTS ", 2048,
                                 "\u00DC"
                                 "berraschung.ts"));
    volume.AddFile(records, File("A       TS ", 1280, "A.ts"));
    volume.AddFile(records, File("EURO    TS ", 999, "\u20ACuro Cup.ts"));
    volume.AddFile(records, File("APPLE   TS ", 3000, "apple.TS"));
    volume.AddFile(records, File("C       TS ", 0, "c.ts"));
    volume.AddFile(records, File("NEWS0518TS ", 123456789));
    volume.AddDirectory(volume.Root(), "EMPTY      ");
    const auto nested = volume.AddDirectory(volume.Root(), "NESTED     ");
    volume.AddDirectory(nested, "INNER      ");
    volume.AddFile(nested, File("CLIP    TS ", 4096));
    const auto many = volume.AddDirectory(volume.Root(), "MANY       ");
    for (int i = 0; i < recordsInMany; ++i) {
        if (i == 0) {
            volume.AddDirectory(many, "FIRST      ");
        }
        if (i == recordsInMany / 2) {
            volume.AddDirectory(many, "MIDDLE     ");
        }
        volume.AddFile(many, File("R" + std::to_string(10000 + i) + "  TS ", 100));
    }
    if (recordsInMany > 0) {
        volume.AddDirectory(many, "LAST       ");
    }
    volume.Write(image, kFat32Start);
    return image.Path();
}

std::string MakeLinkingBackDisk(const TempDir& dir) {
    const ImageFile disk(dir.File("links-back.img"), 8 << 20);
    disk.WriteSector(0, PartitionSector({{0x05, 2048, 8192}}));
    disk.WriteSector(2048, PartitionSector({{0x05, 0, 100}}));
    return disk.Path();
}

std::string MakeCopyDisk(const TempDir& dir, std::uint64_t size, std::uint32_t& seed,
                         std::uint64_t* firstSector) {
    const std::uint32_t sectors = 4'000'000;
    ImageFile image(dir.File("copy.img"), (kFat32Start + std::uint64_t{sectors}) * 512);
    image.WriteSector(0, PartitionSector({{0x0C, kFat32Start, sectors}}));
    VolumeLayout layout;
    layout.fatBits = 32;
    layout.totalSectors = sectors;
    layout.sectorsPerCluster = 8;
    FatVolumeBuilder volume(layout);
    const auto records = volume.AddDirectory(volume.Root(), "RECORDS    ");
    FileLayout file = File("MOVIE   TS ", size, "Movie 2004.ts");
    file.content = Content::Full;
    seed = volume.AddFile(records, file);
    volume.Write(image, kFat32Start);
    if (firstSector != nullptr) {
        *firstSector =
            kFat32Start + volume.DataStart() +
            std::uint64_t{volume.FileClusters(seed).front() - 2} * layout.sectorsPerCluster;
    }
    return image.Path();
}

WindowFixture::~WindowFixture() {
    // The window goes before the dialog it sends events to.
    m_frontend.Window().AllowClose(true);
    m_frontend.Window().hide();
}

void WindowFixture::Create(const std::vector<std::string>& hardDisks,
                           const std::vector<std::string>& images) {
    // Only the disks named: never the machine's own.
    SourceOptions sources;
    sources.sources.hardDisks = hardDisks;
    sources.sources.detect = false;
    m_dialog.emplace(m_frontend, AccessOptionsFor(sources), nullptr, images);
}

void WindowFixture::Open(const std::vector<std::string>& hardDisks,
                         const std::vector<std::string>& images) {
    Create(hardDisks, images);
    m_frontend.OpenMainDialog(*m_dialog);
}

void WindowFixture::OpenOnMachineDisks() {
    SourceOptions sources;
    sources.sources.detect = true;
    m_dialog.emplace(m_frontend, AccessOptionsFor(sources));
    m_frontend.OpenMainDialog(*m_dialog);
}

void WindowFixture::Run() {
    m_frontend.RunMainDialog(*m_dialog);
}

QTreeWidgetItem* WindowFixture::Item(const std::vector<QString>& path) {
    QTreeWidget& tree = Window().Tree();
    QTreeWidgetItem* found = nullptr;
    for (const QString& text : path) {
        QTreeWidgetItem* next = nullptr;
        const int count = found == nullptr ? tree.topLevelItemCount() : found->childCount();
        for (int i = 0; i < count && next == nullptr; ++i) {
            QTreeWidgetItem* child = found == nullptr ? tree.topLevelItem(i) : found->child(i);
            // A volume's node gains its label once its root directory was read.
            if (child->text(0) == text ||
                child->text(0).startsWith(text + QString::fromUtf8(" \u2014 "))) {
                next = child;
            }
        }
        if (next == nullptr) {
            ADD_FAILURE() << "no tree item " << text.toStdString();
            return nullptr;
        }
        found = next;
    }
    return found;
}

TreeItemHandle WindowFixture::Handle(const std::vector<QString>& path) {
    return m_frontend.HandleOf(Item(path));
}

std::vector<QString> WindowFixture::Children(const QTreeWidgetItem* item) {
    std::vector<QString> texts;
    QTreeWidget& tree = Window().Tree();
    const int count = item == nullptr ? tree.topLevelItemCount() : item->childCount();
    for (int i = 0; i < count; ++i) {
        texts.push_back((item == nullptr ? tree.topLevelItem(i) : item->child(i))->text(0));
    }
    return texts;
}

std::vector<QString> WindowFixture::DiskNames() {
    std::vector<QString> names = Children(nullptr);
    for (QString& name : names) {
        name = name.section(QString::fromUtf8(" \u2014 "), 0, 0);
    }
    return names;
}

std::vector<std::vector<QString>> WindowFixture::Rows() {
    std::vector<std::vector<QString>> rows;
    QTreeWidget& list = Window().List();
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        std::vector<QString> row;
        for (int column = 0; column < list.columnCount(); ++column) {
            row.push_back(list.topLevelItem(i)->text(column));
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<QString> WindowFixture::RowNames() {
    std::vector<QString> names;
    for (const auto& row : Rows()) {
        names.push_back(row.at(0));
    }
    return names;
}

namespace {

void ExpectShown(QTreeWidgetItem* item) {
    for (QTreeWidgetItem* parent = item->parent(); parent != nullptr; parent = parent->parent()) {
        ASSERT_TRUE(parent->isExpanded())
            << item->text(0).toStdString() << " is in the closed " << parent->text(0).toStdString();
    }
}

}  // namespace

void WindowFixture::Click(QTreeWidgetItem* item) {
    ASSERT_NE(item, nullptr);
    ExpectShown(item);
    qt::FolderTree& tree = Window().Tree();
    tree.scrollToItem(item);
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                      tree.visualItemRect(item).center());
}

void WindowFixture::ClickButton(QTreeWidgetItem* item) {
    ASSERT_NE(item, nullptr);
    ExpectShown(item);
    qt::FolderTree& tree = Window().Tree();
    tree.scrollToItem(item);
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                      tree.ButtonRect(*item).center());
}

QTreeWidgetItem* WindowFixture::Walk(const std::vector<QString>& path) {
    std::vector<QString> prefix;
    QTreeWidgetItem* item = nullptr;
    for (const QString& text : path) {
        if (item != nullptr && !item->isExpanded()) {
            ClickButton(item);
        }
        prefix.push_back(text);
        item = Item(prefix);
        if (item == nullptr) {
            return nullptr;
        }
        Click(item);
    }
    return item;
}

void WindowFixture::ClickRow(int row) {
    QTreeWidget& list = Window().List();
    QTreeWidgetItem* item = list.topLevelItem(row);
    ASSERT_NE(item, nullptr) << row;
    list.scrollToItem(item);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier,
                      list.visualItemRect(item).center());
}

QRect WindowFixture::Place(const QWidget& control) {
    return {control.mapTo(&Window(), QPoint(0, 0)), control.size()};
}

}  // namespace moravel::testing
