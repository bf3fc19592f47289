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
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "QtTestSupport.h"
#include "copy/CopyTexts.h"
#include "support/FailingDiskServer.h"
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
    // With the disk served by the failing-disk tool when a server is given, the
    // movie's sectors badFirst to badLast (counted from its start) bad.
    void OpenOnMovie(std::optional<FailingDiskServer>* server = nullptr, std::uint64_t badFirst = 0,
                     std::uint64_t badLast = 0, const std::string& delayMs = "10") {
        std::uint64_t first = 0;
        m_disk = MakeCopyDisk(m_dir, kMovieSize, m_seed, &first);
        if (server != nullptr) {
            server->emplace(m_dir, MORAVEL_FAILING_DISK, m_disk,
                            std::vector<std::string>{"--bad",
                                                     std::to_string(first + badFirst) + "-" +
                                                         std::to_string(first + badLast),
                                                     "--delay-ms", delayMs});
            ASSERT_TRUE((*server)->Mounted()) << (*server)->Failure();
            m_disk = (*server)->Disk();
        }
        m_window.Open({m_disk});
        m_window.Walk(kRecordsPath);
        ASSERT_EQ(m_window.RowNames(), (std::vector<QString>{"Movie 2004.ts"}));
        m_window.ClickRow(0);
    }
    void ClickCopyFile() { QTest::mouseClick(&m_window.Window().CopyButton(), Qt::LeftButton); }
    QString Status() { return m_window.Window().Status().FullText(); }

    TempDir m_dir;
    TempDir m_out;
    std::optional<FailingDiskServer> m_server;  // it outlives the window that reads it
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
// A failing drive spends its time on a bad area: while it does, the status line
// says so rather than a rate near zero and a day left; and a copy with filled
// sectors ends with a warning box that says what was filled, where the copy is
// and what to do, the status line keeping the short form.
TEST_F(QtCopyTest, ACopyOverBadSectorsSaysSoWhileItReadsAndEndsWithAWarning) {
    if (const std::string why = WhyNoFuse(MORAVEL_FAILING_DISK); !why.empty()) {
        GTEST_SKIP() << "FUSE cannot be used here: " << why;
    }
    OpenOnMovie(&m_server, 4000, 4099);
    const std::string output = m_out.File("damaged.ts");
    ModalAnswer<QFileDialog> save([&](QFileDialog& dialog) { Save(dialog, output); });
    std::vector<QString> statuses;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (statuses.empty() || statuses.back() != Status()) {
            statuses.push_back(Status());
        }
    });
    watch.start();
    QString box;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    ModalAnswer<QMessageBox> end([&](QMessageBox& shown) {
        box = shown.text();
        icon = shown.icon();
        // For the documentation: MORAVEL_SCREENSHOTS=DIR keeps a picture of the box.
        if (const QString shots = qEnvironmentVariable("MORAVEL_SCREENSHOTS"); !shots.isEmpty()) {
            shown.grab().save(shots + QStringLiteral("/damaged-copy-warning.png"));
        }
        shown.accept();
    });
    ClickCopyFile();
    watch.stop();
    ASSERT_TRUE(save.Answered());
    const QRegularExpression around(QStringLiteral(
        "^Copying Movie 2004\\.ts  1\\.[0-9] MB of 19\\.1 MB  Reading around unreadable sectors: "
        "[0-9]+ so far$"));
    EXPECT_TRUE(std::any_of(statuses.begin(), statuses.end(),
                            [&](const QString& text) { return around.match(text).hasMatch(); }));
    for (const QString& text : statuses) {
        EXPECT_FALSE(text.contains(QStringLiteral("23:59:59"))) << text.toStdString();
    }
    EXPECT_EQ(Status(), QString::fromStdString(
                            "The file was copied incompletely. 100 unreadable sectors were filled "
                            "with 0xE5 bytes. It was copied to " +
                            output + "."));
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(box, QString::fromStdString(
                       "The file was copied incompletely.\n\nIt was copied to " + output +
                       ".\n\n100 sectors could not be read and were filled with 0xE5 bytes: "
                       "bytes 2048000-2099199.\n\n" +
                       kRescueCopyAdvice));
    const std::vector<char> copy = Bytes(output);
    ASSERT_EQ(copy.size(), kMovieSize);
    EXPECT_EQ(static_cast<std::uint8_t>(copy[2048000]), 0xE5);
    EXPECT_EQ(static_cast<std::uint8_t>(copy[2099200]), image::ContentByte(m_seed, 2099200));
}

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
    QStringList verbs;
    ModalAnswer<QMessageBox> stop([&](QMessageBox& box) {
        question = box.text();
        for (QAbstractButton* button : box.buttons()) {
            verbs.append(button->text());
        }
        QTest::mouseClick(box.defaultButton(), Qt::LeftButton);
    });
    ClickCopyFile();
    closer.stop();
    ASSERT_TRUE(save.Answered());
    ASSERT_TRUE(closeAsked);
    EXPECT_EQ(question, QString(kStopAndCloseQuestion));
    verbs.sort();
    EXPECT_EQ(verbs, (QStringList{"Keep Copying", "Stop Copy and Close"}));
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
