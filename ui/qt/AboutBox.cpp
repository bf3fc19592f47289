#include "AboutBox.h"

#include <QPushButton>

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
    for (const auto& [id, widget] : controls.byId) {
        if (auto* button = qobject_cast<QPushButton*>(widget); button != nullptr) {
            connect(button, &QPushButton::clicked, this, &QDialog::accept);
            if (button->isDefault()) {
                button->setFocus();
            }
        }
    }
}

}  // namespace moravel::qt
