#include "Controls.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <memory>

#include "QtText.h"

namespace moravel::qt {

namespace {

// The application's style, but for the branches of a tree: Fusion (Qt's style
// where no desktop names one) draws arrows and no lines there; the Windows style
// draws the dotted connecting lines and the boxed plus and minus of the Windows
// tree view. Frames, scroll bars and selections stay as the rest of the window has
// them.
class BranchLineStyle : public QProxyStyle {
public:
    BranchLineStyle() : m_lines(QStyleFactory::create(QStringLiteral("Windows"))) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element == PE_IndicatorBranch && m_lines != nullptr) {
            m_lines->drawPrimitive(element, option, painter, widget);
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

    // The selection covers the name, not the lines and the button before it.
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == SH_ItemView_ShowDecorationSelected) {
            return 0;
        }
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }

private:
    std::unique_ptr<QStyle> m_lines;
};

}  // namespace

FolderTree::FolderTree(QWidget* parent) : QTreeWidget(parent) {
    auto* lines = new BranchLineStyle;
    lines->setParent(this);
    setStyle(lines);
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setExpandsOnDoubleClick(false);
    setAnimated(false);
    setAutoScroll(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Long names scroll sideways rather than being cut.
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

bool FolderTree::IsClosedWithButton(const QTreeWidgetItem& item) {
    return !item.isExpanded() &&
           (item.childCount() > 0 || item.childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator);
}

QRect FolderTree::ButtonRect(const QTreeWidgetItem& item) const {
    const QRect text = visualItemRect(&item);
    return {text.left() - indentation(), text.top(), indentation(), text.height()};
}

void FolderTree::ScrollToIfShown(QTreeWidgetItem* item) {
    if (item == nullptr) {
        return;
    }
    for (const QTreeWidgetItem* parent = item->parent(); parent != nullptr;
         parent = parent->parent()) {
        if (!parent->isExpanded()) {
            return;
        }
    }
    scrollToItem(item);
}

QTreeWidgetItem* FolderTree::ButtonAt(const QPoint& position) const {
    QTreeWidgetItem* item = itemAt(position);
    if (item == nullptr || (item->parent() == nullptr && !rootIsDecorated())) {
        return nullptr;
    }
    return ButtonRect(*item).contains(position) ? item : nullptr;
}

void FolderTree::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        QTreeWidgetItem* item = ButtonAt(event->position().toPoint());
        if (item != nullptr && IsClosedWithButton(*item)) {
            event->accept();
            emit expandRequested(item);
            return;
        }
    }
    QTreeWidget::mousePressEvent(event);
}

void FolderTree::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint position = event->position().toPoint();
    QTreeWidgetItem* item = itemAt(position);
    const bool onButton = ButtonAt(position) != nullptr;
    QTreeWidget::mouseDoubleClickEvent(event);
    // A double click on a name opens or closes its item.
    if (item == nullptr || onButton || event->button() != Qt::LeftButton) {
        return;
    }
    if (item->isExpanded()) {
        collapseItem(item);
    } else if (IsClosedWithButton(*item)) {
        emit expandRequested(item);
    }
}

void FolderTree::keyPressEvent(QKeyEvent* event) {
    QTreeWidgetItem* item = currentItem();
    const int key = event->key();
    // '*' opens the item only: its sub-folders are not known before they are read.
    if (item != nullptr && IsClosedWithButton(*item) &&
        (key == Qt::Key_Right || key == Qt::Key_Plus || key == Qt::Key_Asterisk)) {
        event->accept();
        emit expandRequested(item);
        return;
    }
    if (key == Qt::Key_Asterisk) {
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

FileList::FileList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSortingEnabled(false);
    header()->setSectionsClickable(false);
    header()->setSortIndicatorShown(false);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    setColumnCount(1);
    headerItem()->setText(0, QString());
}

void FileList::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        emit doubleClickedAnywhere();
    }
}

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(false);
}

void StatusLine::SetFullText(const QString& text) {
    // One line: line breaks of a message become spaces.
    m_fullText = text;
    m_fullText.replace(QLatin1Char('\n'), QLatin1Char(' '));
    Elide();
}

void StatusLine::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void StatusLine::Elide() {
    const QString shown =
        fontMetrics().elidedText(m_fullText, Qt::ElideRight, contentsRect().width());
    setText(shown);
    setToolTip(shown == m_fullText ? QString() : PlainToolTip(m_fullText));
}

}  // namespace moravel::qt
