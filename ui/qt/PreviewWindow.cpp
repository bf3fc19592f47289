#include "PreviewWindow.h"

#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <utility>

#include "Artwork.h"
#include "QtText.h"
#include "media/MediaModule.h"
#include "media/MediaText.h"

namespace moravel::qt {

namespace {

constexpr int kPictureWidth = 384;
constexpr int kPictureHeight = 288;

// "10%", "12.5%": a place of the slider as a share of the recording.
QString ShareText(int place) {
    const int tenths = place * 1000 / PreviewWindow::kPlaces;
    return QString::number(tenths / 10.0, 'f', tenths % 10 == 0 ? 0 : 1) + QLatin1Char('%');
}

}  // namespace

// The file's reads, which fail at once when the window has closed: a look in
// progress then ends at its next read.
class PreviewWindow::StoppableSource final : public MediaSource {
public:
    StoppableSource(MediaSource& file, Requests& requests) : m_file(file), m_requests(requests) {}
    std::uint64_t Size() const override { return m_file.Size(); }
    Result<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        {
            const std::lock_guard<std::mutex> held(m_requests.lock);
            if (m_requests.stop) {
                return Error{"the preview was closed"};
            }
        }
        return m_file.ReadAt(offset, out);
    }

private:
    MediaSource& m_file;
    Requests& m_requests;
};

PreviewWindow::PreviewWindow(std::unique_ptr<FileReader> reader, const QString& name,
                             QWidget* parent)
    : QDialog(parent), m_reader(std::move(reader)) {
    setObjectName(QStringLiteral("previewWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(ApplicationIcon());
    setWindowTitle(name + QStringLiteral(" - Preview"));
    BuildLayout(name);
    m_requests.place = kFirstPlace;
    m_thread = std::thread([this] { Work(); });
}

PreviewWindow::~PreviewWindow() {
    {
        const std::lock_guard<std::mutex> held(m_requests.lock);
        m_requests.stop = true;
    }
    m_requests.wake.notify_all();
    // At most the read under way and the decoding of what it brought are waited for.
    m_thread.join();
}

void PreviewWindow::BuildLayout(const QString& name) {
    auto* layout = new QVBoxLayout(this);
    // The picture has one size: the window has the size its contents ask for.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("previewPicture"));
    m_picture->setFixedSize(kPictureWidth, kPictureHeight);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setStyleSheet(QStringLiteral("background: black; color: white;"));
    m_picture->setAccessibleName(name);
    layout->addWidget(m_picture, 0, Qt::AlignHCenter);

    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("previewSlider"));
    m_slider->setRange(0, kPlaces - 1);
    m_slider->setPageStep(kPlaces / 10);
    m_slider->setValue(kFirstPlace);
    // A picture is read when the slider is let go, not for every place it passes.
    m_slider->setTracking(false);
    m_slider->setEnabled(false);
    connect(m_slider, &QSlider::valueChanged, this, [this](int place) { AskForPicture(place); });
    layout->addWidget(m_slider);

    m_status = new QLabel(QStringLiteral("Reading the recording's streams ..."), this);
    m_status->setObjectName(QStringLiteral("previewStatus"));
    m_status->setTextFormat(Qt::PlainText);
    layout->addWidget(m_status);

    m_details = new QLabel(this);
    m_details->setObjectName(QStringLiteral("previewDetails"));
    m_details->setTextFormat(Qt::PlainText);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_details->setWordWrap(true);
    m_details->setMaximumWidth(kPictureWidth);
    layout->addWidget(m_details);
    layout->addStretch();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void PreviewWindow::AskForPicture(int place) {
    {
        const std::lock_guard<std::mutex> held(m_requests.lock);
        m_requests.place = place;
    }
    m_requests.wake.notify_all();
    m_status->setText(QStringLiteral("Reading the picture at ") + ShareText(place) +
                      QStringLiteral(" ..."));
}

// The thread: the streams first, then the pictures asked for, the latest first.
// The recording is opened once: a picture reads only from its place.
void PreviewWindow::Work() {
    FileMediaSource file(*m_reader);
    StoppableSource source(file, m_requests);
    // Loaded here, on the preview's thread: the window starts without FFmpeg's
    // libraries, and the first preview waits for them, not the window.
    const Result<const MediaModule*> module = LoadMediaModule();
    Result<std::unique_ptr<MediaFile>> media =
        module ? (*module)->Open(source) : Error{"not available: " + module.error().reason};
    auto info = std::make_shared<Result<MediaInfo>>(media ? (*media)->Describe()
                                                          : Result<MediaInfo>(media.error()));
    QMetaObject::invokeMethod(
        this, [this, info] { ShowDetails(*info); }, Qt::QueuedConnection);
    if (!*info) {
        return;
    }
    for (;;) {
        int place = 0;
        {
            std::unique_lock<std::mutex> held(m_requests.lock);
            m_requests.wake.wait(held, [this] { return m_requests.stop || m_requests.place; });
            if (m_requests.stop) {
                return;
            }
            place = *std::exchange(m_requests.place, std::nullopt);
        }
        auto frame = std::make_shared<Result<VideoFrame>>(
            (*media)->FrameAt(static_cast<double>(place) / kPlaces));
        QMetaObject::invokeMethod(
            this, [this, place, frame] { ShowPicture(place, *frame); }, Qt::QueuedConnection);
    }
}

void PreviewWindow::ShowDetails(const Result<MediaInfo>& info) {
    if (!info) {
        m_picture->setText(QStringLiteral("No picture"));
        m_status->clear();
        m_details->setText(QStringLiteral("Media: ") + FromCore(info.error().reason));
        emit detailsShown();
        return;
    }
    m_duration = info->durationSeconds;
    QString text;
    for (const auto& [label, value] : MediaFields(*info)) {
        text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + FromCore(label) +
                QStringLiteral(": ") + FromCore(value);
    }
    m_details->setText(text);
    m_slider->setEnabled(true);
    m_status->setText(QStringLiteral("Reading the picture at ") + ShareText(kFirstPlace) +
                      QStringLiteral(" ..."));
    emit detailsShown();
}

void PreviewWindow::ShowPicture(int place, const Result<VideoFrame>& frame) {
    if (!frame) {
        m_picture->setText(QStringLiteral("No picture"));
        m_status->setText(QStringLiteral("No picture at ") + ShareText(place) +
                          QStringLiteral(": ") + FromCore(frame.error().reason));
        emit pictureShown();
        return;
    }
    const QImage image(frame->rgb.data(), frame->width, frame->height, frame->width * 3,
                       QImage::Format_RGB888);
    m_picture->setPixmap(QPixmap::fromImage(
        image.scaled(m_picture->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    QString where = QStringLiteral("Picture at ");
    if (frame->seconds) {
        where += FromCore(MediaClockText(*frame->seconds));
        if (m_duration) {
            where += QStringLiteral(" of ") + FromCore(MediaClockText(*m_duration));
        }
        where += QStringLiteral(" (") + ShareText(place) + QStringLiteral(" of the bytes)");
    } else {
        where += ShareText(place) + QStringLiteral(" of the bytes");
    }
    m_status->setText(where + QStringLiteral(", ") + QString::number(frame->width) +
                      QLatin1Char('x') + QString::number(frame->height));
    emit pictureShown();
}

}  // namespace moravel::qt
