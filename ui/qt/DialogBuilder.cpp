#include "DialogBuilder.h"

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "Artwork.h"
#include "Controls.h"
#include "QtText.h"

namespace moravel::qt {

namespace {

QLabel* MakeLabel(QDialog& dialog, std::string_view text, bool prefix) {
    auto* label = new QLabel(&dialog);
    label->setTextFormat(Qt::PlainText);
    // Static text as the Windows dialog manager draws it: top left, wrapped at word boundaries.
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    label->setText(prefix ? WithoutMnemonics(text) : FromCore(text));
    return label;
}

QLabel* MakePicture(QDialog& dialog, const QPixmap& source, const QSize& size) {
    auto* picture = new QLabel(&dialog);
    const qreal ratio = dialog.devicePixelRatioF();
    QPixmap scaled = source.scaled(size * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(ratio);
    picture->setPixmap(scaled);
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return picture;
}

QWidget* MakeControl(QDialog& dialog, const res::ControlTemplate& control, const QRect& place,
                     bool prefix) {
    using Kind = res::ControlKind;
    switch (control.kind) {
        case Kind::PushButton:
        case Kind::DefaultPushButton: {
            auto* button = new QPushButton(FromCore(control.text), &dialog);
            const bool isDefault = control.kind == Kind::DefaultPushButton;
            button->setAutoDefault(isDefault);
            button->setDefault(isDefault);
            return button;
        }
        case Kind::TreeView:
            return new FolderTree(&dialog);
        case Kind::ListView:
            return new FileList(&dialog);
        case Kind::Label:
            return MakeLabel(dialog, control.text, prefix);
        case Kind::ProgressBar: {
            auto* bar = new QProgressBar(&dialog);
            bar->setTextVisible(false);
            return bar;
        }
        case Kind::StatusText:
            return new StatusLine(&dialog);
        case Kind::Picture:
            return MakePicture(dialog, LogoBitmap(), place.size());
        case Kind::Icon: {
            const int side = std::min(place.width(), place.height());
            auto* icon = new QLabel(&dialog);
            icon->setPixmap(
                ApplicationIcon().pixmap(QSize(side, side), dialog.devicePixelRatioF()));
            icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return icon;
        }
    }
    return new QWidget(&dialog);
}

// The units that lay the dialog out on the screen it opens on: the font's own
// when the dialog fits there; else smaller ones, with the dialog's font made
// smaller by as much, so that the whole dialog is on the screen.
BaseUnits FitToScreen(QDialog& dialog, const res::DialogTemplate& layout, BaseUnits own) {
    const QScreen* screen = dialog.screen();
    if (screen == nullptr) {
        return own;
    }
    const BaseUnits fitted =
        FitBaseUnits(own, layout.width, layout.height, screen->availableGeometry().size());
    const double scale = ScaleOf(fitted, own);
    if (scale >= 1.0) {
        return own;
    }
    QFont font = dialog.font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * scale);
    } else {
        font.setPixelSize(std::max(1, static_cast<int>(font.pixelSize() * scale)));
    }
    dialog.setFont(font);
    return fitted;
}

}  // namespace

DialogControls BuildDialogControls(QDialog& dialog, const res::DialogTemplate& layout,
                                   int literalLabel) {
    const BaseUnits own = BaseUnitsOf(dialog.font());
    const BaseUnits units = FitToScreen(dialog, layout, own);
    DialogControls built;
    QWidget* previousStop = nullptr;
    int index = 0;
    for (const res::ControlTemplate& control : layout.controls) {
        const QRect place = DluToPixels(control.x, control.y, control.width, control.height, units);
        QWidget* widget = MakeControl(dialog, control, place, index != literalLabel);
        widget->setGeometry(place);
        widget->setObjectName(control.id != res::kNoId
                                  ? QStringLiteral("control-%1").arg(control.id)
                                  : QStringLiteral("static-%1").arg(index));
        if (!control.visible) {
            widget->hide();
        }
        if (control.id != res::kNoId) {
            built.byId[control.id] = widget;
        }
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previousStop != nullptr) {
                QWidget::setTabOrder(previousStop, widget);
            }
            previousStop = widget;
        }
        built.inOrder.push_back(widget);
        ++index;
    }
    dialog.setFixedSize(DluToPixels(layout.width, layout.height, units));
    return built;
}

}  // namespace moravel::qt
