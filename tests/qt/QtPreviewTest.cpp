// Preview... in the window, on recordings that ffmpeg makes onto a volume made by
// mkfs.fat and filled by mcopy: the details, the picture at a tenth, another
// picture where the slider is let go (also after the disks were read again), a
// bad area on a failing disk, a file that is no stream, and a preview closed
// while it loads.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include "QtTestSupport.h"
#include "support/FailingDiskServer.h"
#include "support/Tools.h"
#include "ui/qt/PreviewWindow.h"

namespace moravel::testing {
namespace {

// Six seconds of colour bars, then six of plain red, with a tone: MPEG-2 and MP2
// in a transport stream, as recorders write them, at a recorder's 12 Mbit/s: the
// middle of its 19 MB is beyond what a look at the streams reads.
constexpr char kRecording[] =
    "smptebars=d=6:s=320x240:r=25[a];color=c=red:d=6:s=320x240:r=25[b];[a][b]concat=n=2[out0]";

// Where the file's bytes begin in the image (it lies in one piece on a new volume).
std::uint64_t Where(const std::string& image, const std::string& file) {
    const auto read = [](const std::string& path) {
        std::string bytes(std::filesystem::file_size(path), '\0');
        std::ifstream(path, std::ios::binary)
            .read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return bytes;
    };
    const std::string disk = read(image);
    const std::size_t at = disk.find(read(file).substr(0, 64 * 1024));
    EXPECT_NE(at, std::string::npos);
    return at;
}

class QtPreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"ffmpeg", "ffprobe", "mkfs.fat", "mcopy"}) {
            if (FindTool(tool).empty()) {
                GTEST_SKIP() << "no " << tool << " (scripts/install-deps.sh installs it)";
            }
        }
        const std::string& stream = m_stream;
        const std::string noise = m_dir.File("NOISE.BIN");
        m_image = m_dir.File("disk.img");
        int status = 0;
        RunCommand("ffmpeg -loglevel error -f lavfi -i " + Quoted(kRecording) +
                       " -f lavfi -i sine=frequency=440:duration=12 -c:v mpeg2video -b:v 12M"
                       " -minrate 12M -maxrate 12M -bufsize 1835k -c:a mp2 -f mpegts " +
                       Quoted(stream) + " && head -c 300000 /dev/urandom >" + Quoted(noise) +
                       " && mkfs.fat -C -F 32 -s 1 -n REC " + Quoted(m_image) +
                       " 40000 >/dev/null && mcopy -i " + Quoted(m_image) + " " + Quoted(stream) +
                       " " + Quoted(noise) + " ::/",
                   status);
        ASSERT_EQ(status, 0);
        m_duration = std::stod(RunCommand(
            "ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quoted(stream),
            status));
    }

    void OpenWindow(const std::string& disk) {
        m_window.Open({disk});
        m_window.Walk({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory"});
    }

    // Preview... on the row of that name: the window it opened.
    qt::PreviewWindow* Preview(const QString& name) {
        const std::vector<QString> names = m_window.RowNames();
        const auto row = std::find(names.begin(), names.end(), name) - names.begin();
        m_window.ClickRow(static_cast<int>(row));
        const QList<qt::PreviewWindow*> before = Previews();
        m_window.Frontend().UserCommand(res::kPreviewCommand);
        for (qt::PreviewWindow* preview : Previews()) {
            if (!before.contains(preview)) {
                return preview;
            }
        }
        return nullptr;
    }
    QList<qt::PreviewWindow*> Previews() {
        return m_window.Window().findChildren<qt::PreviewWindow*>();
    }
    // Lets the slider go at the place: true when a picture, or why there is
    // none, was shown.
    static bool MoveSlider(qt::PreviewWindow& preview, int place) {
        QSignalSpy pictures(&preview, &qt::PreviewWindow::pictureShown);
        preview.findChild<QSlider*>(QStringLiteral("previewSlider"))->setValue(place);
        return pictures.wait(20000);
    }
    // Where the picture shown lies in the recording, in seconds, as its status says.
    static double PictureSeconds(const qt::PreviewWindow& preview) {
        const QString status = Text(preview, "previewStatus");
        const QRegularExpressionMatch at =
            QRegularExpression(QStringLiteral("^Picture at 0:([0-9.]+) of ")).match(status);
        EXPECT_TRUE(at.hasMatch()) << status.toStdString();
        return at.hasMatch() ? at.captured(1).toDouble() : -1;
    }
    // The window over the image served with sectors first to last bad (and the
    // options), the recording's preview open; nullptr, said why, where it cannot be.
    qt::PreviewWindow* PreviewOverBadSectors(std::uint64_t first, std::uint64_t last,
                                             std::vector<std::string> options = {}) {
        options.insert(options.end(), {"--bad", std::to_string(first) + "-" + std::to_string(last),
                                       "--log", m_log});
        const FailingDiskServer& server =
            m_server.emplace(m_dir, MORAVEL_FAILING_DISK, m_image, options);
        if (!server.Mounted()) {
            ADD_FAILURE() << server.Failure();
            return nullptr;
        }
        OpenWindow(server.Disk());
        return Preview(QStringLiteral("NEWS0518.TS"));
    }
    // The failing disk's log: one line a read.
    static std::vector<std::string> Lines(const std::string& path) {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    static QString Text(const qt::PreviewWindow& preview, const char* name) {
        return preview.findChild<QLabel*>(QString::fromLatin1(name))->text();
    }
    static QRgb Pixel(const qt::PreviewWindow& preview, double x, double y) {
        const QImage image =
            preview.findChild<QLabel*>(QStringLiteral("previewPicture"))->pixmap().toImage();
        return image.pixel(static_cast<int>(x * image.width()),
                           static_cast<int>(y * image.height()));
    }

    TempDir m_dir;
    std::optional<FailingDiskServer> m_server;  // it outlives the window that reads it
    WindowFixture m_window;
    std::string m_stream = m_dir.File("NEWS0518.TS");
    std::string m_log = m_dir.File("reads.log");
    std::string m_image;
    double m_duration = 0;
};

TEST_F(QtPreviewTest, ShowsTheDetailsThePictureAtATenthAndAnotherWhereTheSliderIsLetGo) {
    OpenWindow(m_image);
    qt::PreviewWindow* preview = Preview(QStringLiteral("NEWS0518.TS"));
    ASSERT_NE(preview, nullptr);
    QSignalSpy pictures(preview, &qt::PreviewWindow::pictureShown);
    ASSERT_TRUE(pictures.wait(20000));
    const QString details = Text(*preview, "previewDetails");
    EXPECT_TRUE(details.contains(QStringLiteral("Container: MPEG-TS"))) << details.toStdString();
    EXPECT_TRUE(details.contains(QStringLiteral("Video: mpeg2video, 320x240, 25 frames/s")));
    EXPECT_TRUE(details.contains(QStringLiteral("Audio: mp2, 1 channel, 44100 Hz")));
    const QRegularExpressionMatch seconds =
        QRegularExpression(QStringLiteral("Duration: .* \\(([0-9.]+) s\\)")).match(details);
    ASSERT_TRUE(seconds.hasMatch()) << details.toStdString();
    EXPECT_NEAR(seconds.captured(1).toDouble(), m_duration, 0.1);
    // The bars: the first light grey, the second yellow.
    EXPECT_GE(qGray(Pixel(*preview, 0.07, 0.25)), 150);
    EXPECT_LE(qBlue(Pixel(*preview, 0.2, 0.25)), 60);
    EXPECT_GE(qRed(Pixel(*preview, 0.2, 0.25)), 150);
    EXPECT_NEAR(PictureSeconds(*preview), 1.5, 1);

    // The preview reads by a descriptor of its own: the tree read anew takes
    // nothing from it.
    m_window.Frontend().UserCommand(res::kRefreshCommand);
    MoveSlider(*preview, qt::PreviewWindow::kPlaces * 9 / 10);
    EXPECT_GT(PictureSeconds(*preview), 9.5);
    const QRgb red = Pixel(*preview, 0.5, 0.5);
    EXPECT_TRUE(qRed(red) > 200 && qGreen(red) < 60 && qBlue(red) < 60) << std::hex << red;
}

// A bad area in the middle of the recording: the pictures before and after it
// come, the one in it is said to be missing, and the area costs one failed read,
// not one per sector. A picture reads only from its place on: the start of
// the recording, read for the first, is not read again.
TEST_F(QtPreviewTest, ABadAreaCostsOnlyThePictureInItAndOneFailedRead) {
    if (const std::string why = WhyNoFuse(MORAVEL_FAILING_DISK); !why.empty()) {
        GTEST_SKIP() << "FUSE cannot be used here: " << why;
    }
    const std::uint64_t start = Where(m_image, m_stream);
    const std::uint64_t middle = start + std::filesystem::file_size(m_stream) / 2;
    const std::uint64_t bad = middle / 512;
    qt::PreviewWindow* preview = PreviewOverBadSectors(bad, bad + 199, {"--delay-ms", "5"});
    ASSERT_NE(preview, nullptr);
    QSignalSpy pictures(preview, &qt::PreviewWindow::pictureShown);
    ASSERT_TRUE(pictures.wait(20000));
    EXPECT_NEAR(PictureSeconds(*preview), 1.5, 1);
    const auto readsSoFar = [&] { return Lines(m_log); };
    const std::size_t before = readsSoFar().size();
    ASSERT_TRUE(MoveSlider(*preview, qt::PreviewWindow::kPlaces / 2));
    const QString missing = Text(*preview, "previewStatus");
    EXPECT_TRUE(missing.startsWith(QStringLiteral("No picture at 50%: bytes ")) &&
                missing.endsWith(QStringLiteral(" lie on a sector that could not be read")))
        << missing.toStdString();
    ASSERT_TRUE(MoveSlider(*preview, qt::PreviewWindow::kPlaces * 9 / 10));
    EXPECT_GT(PictureSeconds(*preview), 9.5);
    const std::vector<std::string> reads = readsSoFar();
    int failed = 0;
    for (std::size_t i = 0; i < reads.size(); ++i) {
        failed += reads[i].ends_with(" EIO") ? 1 : 0;
        if (i >= before) {
            EXPECT_GE(std::stoull(reads[i]), middle - 512) << "read " << i << ": " << reads[i];
        }
    }
    EXPECT_EQ(failed, 1);
}

// The recording's first 64 KiB on bad sectors: the streams are found past them,
// the picture at a tenth comes, and the slider works: the picture halfway
// through comes too. The bad area is asked for once.
TEST_F(QtPreviewTest, AnUnreadableStartHidesNeitherTheDetailsNorThePictures) {
    if (const std::string why = WhyNoFuse(MORAVEL_FAILING_DISK); !why.empty()) {
        GTEST_SKIP() << "FUSE cannot be used here: " << why;
    }
    const std::uint64_t start = Where(m_image, m_stream) / 512;
    qt::PreviewWindow* preview = PreviewOverBadSectors(start, start + 127);
    ASSERT_NE(preview, nullptr);
    QSignalSpy pictures(preview, &qt::PreviewWindow::pictureShown);
    ASSERT_TRUE(pictures.wait(20000));
    const QString details = Text(*preview, "previewDetails");
    EXPECT_TRUE(details.contains(QStringLiteral("Video: mpeg2video, 320x240, 25 frames/s")))
        << details.toStdString();
    EXPECT_TRUE(details.contains(QStringLiteral("Start: not read (bytes 0-")));
    EXPECT_GE(qGray(Pixel(*preview, 0.07, 0.25)), 150);
    ASSERT_TRUE(MoveSlider(*preview, qt::PreviewWindow::kPlaces / 2));
    const double half = PictureSeconds(*preview);
    EXPECT_GT(half, 4);
    EXPECT_LT(half, 8);
    const std::vector<std::string> reads = Lines(m_log);
    EXPECT_EQ(std::count_if(reads.begin(), reads.end(),
                            [](const std::string& read) { return read.ends_with(" EIO"); }),
              1);
}

TEST_F(QtPreviewTest, AFileThatIsNoStreamSaysSoAndAPreviewClosedWhileItLoadsEnds) {
    OpenWindow(m_image);
    qt::PreviewWindow* noise = Preview(QStringLiteral("NOISE.BIN"));
    ASSERT_NE(noise, nullptr);
    QSignalSpy details(noise, &qt::PreviewWindow::detailsShown);
    ASSERT_TRUE(details.wait(20000));
    EXPECT_TRUE(Text(*noise, "previewDetails")
                    .startsWith(QStringLiteral("Media: no stream that the libraries know")))
        << Text(*noise, "previewDetails").toStdString();
    EXPECT_FALSE(noise->findChild<QSlider*>(QStringLiteral("previewSlider"))->isEnabled());
    noise->close();

    // Closed at once with Escape: its thread ends at its next read, and the
    // window is gone.
    qt::PreviewWindow* loading = Preview(QStringLiteral("NEWS0518.TS"));
    ASSERT_NE(loading, nullptr);
    QTest::keyClick(loading, Qt::Key_Escape);
    EXPECT_TRUE(WaitUntil([&] { return Previews().isEmpty(); }));
}

}  // namespace
}  // namespace moravel::testing
