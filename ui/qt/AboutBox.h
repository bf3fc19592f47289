#pragma once

#include <QDialog>

#include "res/Resources.h"

namespace moravel::qt {

// The About box, laid out from its layout: the icon, the two texts (the first
// one shows '&' as it is) and OK, the default button; below them the licence,
// the home page and the libraries used with their versions and licences
// (AboutDetails). OK, Escape and the close box end it.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    AboutBox(const res::DialogTemplate& layout, QWidget* parent);

    // The lines below the layout's texts, as plain text.
    static QString AboutDetails();

private:
    void AddDetails(const QRect& textPlace);
};

}  // namespace moravel::qt
