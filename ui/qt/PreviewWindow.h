#pragma once

#include <QDialog>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "copy/FileReader.h"
#include "media/MediaProbe.h"

class QLabel;
class QSlider;

namespace moravel::qt {

// A recording's preview: a picture at about a tenth of it, its duration and its
// tracks, and a slider for a picture elsewhere. The reads and the decoding run
// on a thread of the window's own, through the file's own reader: the main
// window goes on meanwhile, and a picture costs only the bytes around it.
// Not modal: it stands over the main window, which goes on. Closed, it is deleted.
class PreviewWindow final : public QDialog {
    Q_OBJECT
public:
    // Where the first picture is looked for: a tenth of the bytes in.
    static constexpr int kFirstPlace = 100;  // of kPlaces
    static constexpr int kPlaces = 1000;

    PreviewWindow(std::unique_ptr<FileReader> reader, const QString& name, QWidget* parent);
    ~PreviewWindow() override;
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

signals:
    // The look at the streams is over: what they hold is shown, or why nothing is.
    void detailsShown();
    // The picture asked for is shown, or why there is none.
    void pictureShown();

private:
    // What the thread is asked for; a place asked for and not yet begun gives way
    // to the next one.
    struct Requests {
        std::mutex lock;
        std::condition_variable wake;
        std::optional<int> place;
        bool stop = false;
    };
    class StoppableSource;

    void BuildLayout(const QString& name);
    void AskForPicture(int place);
    void Work();
    void ShowDetails(const Result<MediaInfo>& info);
    void ShowPicture(int place, const Result<VideoFrame>& frame);

    std::unique_ptr<FileReader> m_reader;  // the thread's alone once it runs
    Requests m_requests;
    std::optional<double> m_duration;  // seconds, once the streams told it
    QLabel* m_picture = nullptr;
    QLabel* m_details = nullptr;
    QLabel* m_status = nullptr;
    QSlider* m_slider = nullptr;
    std::thread m_thread;  // last: it starts when all above are there
};

}  // namespace moravel::qt
