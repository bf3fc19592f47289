#include "QtText.h"

#include <QFile>

#include "ui/Windows1252.h"

namespace moravel::qt {

QString FromDisk(std::string_view bytes) {
    return QString::fromStdString(Windows1252ToUtf8(bytes));
}

std::string ToLocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString WithoutMnemonics(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                plain.push_back('&');
                ++i;
            }
            continue;
        }
        plain.push_back(text[i]);
    }
    return FromDisk(plain);
}

QString PlainToolTip(const QString& text) {
    return text.isEmpty() ? QString() : QStringLiteral("<p>%1</p>").arg(text.toHtmlEscaped());
}

}  // namespace moravel::qt
