#include "Artwork.h"

#include <QString>
#include <array>

// The resources are compiled into the front end's static library, whose object
// file nothing else refers to: they are registered by hand.
static void RegisterResources() {
    Q_INIT_RESOURCE(moravel);
}

namespace moravel::qt {

namespace {

void EnsureResources() {
    static const bool registered = [] {
        RegisterResources();
        return true;
    }();
    (void)registered;
}

}  // namespace

QIcon ApplicationIcon() {
    EnsureResources();
    QIcon icon;
    for (const int size : std::array{16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/moravel/icon-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

QPixmap LogoBitmap() {
    EnsureResources();
    return QPixmap(QStringLiteral(":/moravel/logo.bmp"));
}

}  // namespace moravel::qt
