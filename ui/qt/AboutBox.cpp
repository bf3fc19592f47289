#include "AboutBox.h"

#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QtGlobal>

#include "AboutLibraries.h"
#include "Artwork.h"
#include "DialogBuilder.h"
#include "QtText.h"

namespace moravel::qt {

AboutBox::AboutBox(const res::DialogTemplate& layout, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutBox"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(FromCore(layout.caption));
    setWindowIcon(ApplicationIcon());
    setModal(true);
    // The version line is the layout's first label.
    int firstLabel = -1;
    for (std::size_t i = 0; i < layout.controls.size(); ++i) {
        if (layout.controls[i].kind == res::ControlKind::Label) {
            firstLabel = static_cast<int>(i);
            break;
        }
    }
    const DialogControls controls = BuildDialogControls(*this, layout, firstLabel);
    AddDetails(controls.inOrder.at(static_cast<std::size_t>(firstLabel))->geometry());
    for (const auto& [id, widget] : controls.byId) {
        if (auto* button = qobject_cast<QPushButton*>(widget); button != nullptr) {
            connect(button, &QPushButton::clicked, this, &QDialog::accept);
            if (button->isDefault()) {
                button->setFocus();
            }
        }
    }
}

namespace {

// "libavformat 59.27.100", or the name alone where the build did not find it.
QString Library(const char* name, const char* version) {
    const QString text = QString::fromLatin1(name);
    return *version != '\0' ? text + QLatin1Char(' ') + QString::fromLatin1(version) : text;
}

}  // namespace

QString AboutBox::AboutDetails() {
    const QStringList ffmpeg{Library("libavformat", MORAVEL_LIBAVFORMAT_VERSION),
                             Library("libavcodec", MORAVEL_LIBAVCODEC_VERSION),
                             Library("libswscale", MORAVEL_LIBSWSCALE_VERSION),
                             Library("libavutil", MORAVEL_LIBAVUTIL_VERSION)};
    return QStringList{
        QStringLiteral("Licence: MIT"),
        QStringLiteral("Home page: ") + FromCore(res::kHomePage),
        QString(),
        QStringLiteral("Libraries used:"),
        QStringLiteral("Qt %1 (LGPL-3.0)").arg(QString::fromLatin1(qVersion())),
        QStringLiteral("FFmpeg: %1 (LGPL-2.1+)").arg(ffmpeg.join(QStringLiteral(", "))),
        Library("libfuse", MORAVEL_LIBFUSE_VERSION) + QStringLiteral(" (LGPL-2.1)"),
        Library("libblkid", MORAVEL_LIBBLKID_VERSION) + QStringLiteral(" (LGPL-2.1+)")}
        .join(QLatin1Char('\n'));
}

// Below the layout's texts, as far left as they are; the box grows to hold them.
void AboutBox::AddDetails(const QRect& textPlace) {
    auto* details = new QLabel(this);
    details->setObjectName(QStringLiteral("aboutDetails"));
    details->setTextFormat(Qt::PlainText);
    details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    details->setWordWrap(true);
    details->setText(AboutDetails());
    const int margin = textPlace.top();
    const int width = this->width() - textPlace.left() - margin;
    const int top = height();
    const int height = details->heightForWidth(width);
    details->setGeometry(textPlace.left(), top, width, height);
    setFixedSize(this->width(), top + height + margin);
}

}  // namespace moravel::qt
