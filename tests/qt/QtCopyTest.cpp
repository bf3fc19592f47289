// Copy File in the window: the Save dialog, the copy's bytes against the
// command line's copy of the same file, replacing a file only when the user
// says so, and closing the window while a copy runs.

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "QtTestSupport.h"
#include "copy/CopyTexts.h"
#include "ui/qt/Controls.h"

namespace moravel::testing {
namespace {

constexpr std::uint64_t kMovieSize = 20'000'000 + 1234;  // a cluster cut short at the end
const std::vector<QString> kRecordsPath = {"Hard Disk 1", "32-Bit FAT Disk", "Root Directory",
                                           "RECORDS"};

std::vector<char> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Types the path into the Save dialog's name field and saves. The field, not
// selectFile(): Qt leaves a field that has the focus alone.
void Save(QFileDialog& dialog, const std::string& path) {
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QString::fromStdString(path));
    static_cast<QDialog&>(dialog).accept();  // Save, as the button does
}

class QtCopyTest : public ::testing::Test {
protected:
    void OpenOnMovie() {
        m_disk = MakeCopyDisk(m_dir, kMovieSize, m_seed);
        m_window.Open({m_disk});
        m_window.Walk(kRecordsPath);
        ASSERT_EQ(m_window.RowNames(), (std::vector<QString>{"Movie 2004.ts"}));
        m_window.ClickRow(0);
    }
    void ClickCopyFile() { QTest::mouseClick(&m_window.Window().CopyButton(), Qt::LeftButton); }
    QString Status() { return m_window.Window().Status().FullText(); }

    TempDir m_dir;
    TempDir m_out;
    std::string m_disk;
    std::uint32_t m_seed = 0;
    WindowFixture m_window;
};

TEST_F(QtCopyTest, ACopyThroughTheSaveDialogHasTheBytesOfTheCommandLinesCopy) {
    OpenOnMovie();
    const std::string windowCopy = m_out.File("window.ts");
    QString offeredName;
    bool native = true;
    bool confirmsOverwrite = false;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    ModalAnswer<QFileDialog> save([&](QFileDialog& dialog) {
        offeredName = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        native = !dialog.testOption(QFileDialog::DontUseNativeDialog);
        confirmsOverwrite = !dialog.testOption(QFileDialog::DontConfirmOverwrite);
        mode = dialog.acceptMode();
        Save(dialog, windowCopy);
    });
    ClickCopyFile();
    ASSERT_TRUE(save.Answered());
    EXPECT_EQ(offeredName, QStringLiteral("Movie 2004.ts"));
    EXPECT_FALSE(native);
    EXPECT_TRUE(confirmsOverwrite);
    EXPECT_EQ(mode, QFileDialog::AcceptSave);
    EXPECT_EQ(Status(), QString::fromStdString(kCopySucceededText + (" to " + windowCopy)));
    EXPECT_FALSE(m_window.Window().Progress().isVisibleTo(&m_window.Window()));
    EXPECT_TRUE(m_window.Window().Tree().isEnabled());
    EXPECT_TRUE(m_window.Window().List().isEnabled());

    const std::string cliCopy = m_out.File("cli.ts");
    QProcess cli;
    cli.start(QStringLiteral(MORAVEL_CLI),
              {"--disk", QString::fromStdString(m_disk), "copy",
               "Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/Movie 2004.ts",
               QString::fromStdString(cliCopy)});
    ASSERT_TRUE(cli.waitForFinished(120'000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();

    const std::vector<char> window = Bytes(windowCopy);
    const std::vector<char> command = Bytes(cliCopy);
    ASSERT_EQ(window.size(), kMovieSize);
    EXPECT_TRUE(window == command);
    // And both are the recording as the image builder wrote it.
    for (std::uint64_t at : {std::uint64_t{0}, std::uint64_t{4095}, std::uint64_t{4096},
                             kMovieSize / 2, kMovieSize - 1}) {
        EXPECT_EQ(static_cast<std::uint8_t>(window[at]), image::ContentByte(m_seed, at)) << at;
    }
}

TEST_F(QtCopyTest, AnExistingFileIsReplacedOnlyWhenTheUserSaysSo) {
    OpenOnMovie();
    const std::string existing = m_out.File("existing.ts");
    { std::ofstream(existing) << "keep me"; }

    // Asked to replace it: No, and the Save dialog stays for another name; then Cancel.
    QString question;
    ModalAnswer<QFileDialog> save([&](QFileDialog& dialog) {
        ModalAnswer<QMessageBox> replace([&](QMessageBox& box) {
            question = box.text();
            QTest::mouseClick(box.button(QMessageBox::No), Qt::LeftButton);
        });
        Save(dialog, existing);
        EXPECT_TRUE(replace.Answered());
        EXPECT_TRUE(dialog.isVisible());
        dialog.reject();
    });
    ClickCopyFile();
    ASSERT_TRUE(save.Answered());
    EXPECT_TRUE(question.contains(QStringLiteral("existing.ts"))) << question.toStdString();
    EXPECT_EQ(Bytes(existing), (std::vector<char>{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    EXPECT_NE(Status(), QString::fromLatin1(kCopySucceededText));

    // Yes: replaced by the recording.
    ModalAnswer<QFileDialog> again([&](QFileDialog& dialog) {
        ModalAnswer<QMessageBox> replace([&](QMessageBox& box) {
            QTest::mouseClick(box.button(QMessageBox::Yes), Qt::LeftButton);
        });
        Save(dialog, existing);
        EXPECT_TRUE(replace.Answered());
    });
    ClickCopyFile();
    ASSERT_TRUE(again.Answered());
    EXPECT_EQ(Status(), QString::fromStdString(kCopySucceededText + (" to " + existing)));
    EXPECT_EQ(Bytes(existing).size(), kMovieSize);
}

// Closing the window during a copy does not close it at once: the copy ends
// after the cluster it is at, and then the window closes.
TEST_F(QtCopyTest, ClosingTheWindowDuringACopyEndsTheCopyThenTheWindow) {
    OpenOnMovie();
    qt::QtFrontend& frontend = m_window.Frontend();
    qt::MainWindow& window = m_window.Window();
    frontend.SetPumpSlice(0);
    const std::string output = m_out.File("cut.ts");
    ModalAnswer<QFileDialog> save([&](QFileDialog& dialog) { Save(dialog, output); });

    bool closeAsked = false;
    bool openAfterClose = false;
    std::uint64_t pumpsAtClose = 0;
    QTimer closer;
    closer.setInterval(0);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (!closeAsked && window.Progress().value() >= 10) {
            closeAsked = true;
            pumpsAtClose = frontend.PumpSteps();
            window.close();  // the close box
            openAfterClose = window.isVisible() && !frontend.IsClosed();
        }
    });
    closer.start();
    // The close asks first; the copy waits for the answer.
    QString question;
    ModalAnswer<QMessageBox> stop([&](QMessageBox& box) {
        question = box.text();
        QTest::mouseClick(box.button(QMessageBox::Ok), Qt::LeftButton);
    });
    ClickCopyFile();
    closer.stop();
    ASSERT_TRUE(save.Answered());
    ASSERT_TRUE(closeAsked);
    EXPECT_EQ(question, QString(kStopAndCloseQuestion));
    EXPECT_TRUE(openAfterClose);
    EXPECT_TRUE(frontend.IsClosed());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(frontend.PumpSteps(), pumpsAtClose);  // not one cluster more
    // What was copied stays under its working name, and the status line says where.
    const std::string kept = output + ".part";
    EXPECT_EQ(Status(), QString::fromStdString(std::string(kCopyStoppedText) +
                                               " What was copied is kept as cut.ts.part in " +
                                               m_out.Path().string() + "/."));
    EXPECT_FALSE(std::filesystem::exists(output));
    const auto written = Bytes(kept).size();
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, kMovieSize / 2);
}

}  // namespace
}  // namespace moravel::testing
