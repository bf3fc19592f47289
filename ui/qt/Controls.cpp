#include "Controls.h"

#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <QTextLayout>
#include <QToolTip>
#include <algorithm>
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

// The width a cell of the view needs to show the text whole.
int CellWidthFor(const QTreeView& view, const QString& text) {
    return view.fontMetrics().horizontalAdvance(text) +
           2 * (view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
}

// The whole text of a cut cell as the tip; a cell with a tip of its own, or
// shown whole, keeps what the view does. True when the event was handled.
bool ShowCutCellTip(QTreeView& view, QEvent* event) {
    if (event->type() != QEvent::ToolTip) {
        return false;
    }
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = view.indexAt(help->pos());
    if (!index.isValid() || !index.data(Qt::ToolTipRole).toString().isEmpty()) {
        return false;
    }
    const QString text = FolderTree::CutCellText(view, help->pos());
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QToolTip::showText(help->globalPos(), PlainToolTip(text), view.viewport(),
                       view.visualRect(index));
    return true;
}

}  // namespace

QString FolderTree::CutCellText(const QTreeView& view, const QPoint& position) {
    const QModelIndex index = view.indexAt(position);
    if (!index.isValid()) {
        return {};
    }
    const QRect shown = view.visualRect(index).intersected(view.viewport()->rect());
    const QString text = index.data(Qt::DisplayRole).toString();
    return CellWidthFor(view, text) > shown.width() ||
                   view.visualRect(index).right() > shown.right()
               ? text
               : QString();
}

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

bool FolderTree::viewportEvent(QEvent* event) {
    return ShowCutCellTip(*this, event) || QTreeWidget::viewportEvent(event);
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

namespace {

// The digits of a number without its leading zeros, from at on; at moves past them.
QStringView NumberAt(const QString& text, qsizetype& at) {
    while (at + 1 < text.size() && text[at] == QLatin1Char('0') && text[at + 1].isDigit()) {
        ++at;
    }
    const qsizetype start = at;
    while (at < text.size() && text[at].isDigit()) {
        ++at;
    }
    return QStringView(text).mid(start, at - start);
}

// Negative, zero or positive as a goes before, with or after b by numbers and
// folded letters.
int NaturalCompare(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const QStringView left = NumberAt(a, i);
            const QStringView right = NumberAt(b, j);
            if (left.size() != right.size()) {
                return left.size() < right.size() ? -1 : 1;
            }
            if (const int order = left.compare(right); order != 0) {
                return order;
            }
            continue;
        }
        const char32_t left = a[i].toCaseFolded().unicode();
        const char32_t right = b[j].toCaseFolded().unicode();
        if (left != right) {
            return left < right ? -1 : 1;
        }
        ++i;
        ++j;
    }
    return (i < a.size()) - (j < b.size());
}

}  // namespace

bool NaturalLess(const QString& a, const QString& b) {
    const int order = NaturalCompare(a, b);
    return order != 0 ? order < 0 : a < b;
}

bool FileRow::operator<(const QTreeWidgetItem& other) const {
    return SortsBefore(other, treeWidget() != nullptr ? treeWidget()->sortColumn() : 0);
}

bool FileRow::SortsBefore(const QTreeWidgetItem& other, int column) const {
    const auto* row = dynamic_cast<const FileRow*>(&other);
    if (row != nullptr && (column == 1 || column == 2) && m_bytes != row->m_bytes) {
        return m_bytes < row->m_bytes;
    }
    if (row != nullptr && column == 3 && m_moment != row->m_moment) {
        return m_moment < row->m_moment;
    }
    return NaturalLess(text(0), other.text(0));
}

FileList::FileList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(true);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    setColumnCount(1);
    headerItem()->setText(0, QString());
    sortByColumn(0, Qt::AscendingOrder);
    setSortingEnabled(true);
}

int FileList::CellWidth(const QTreeWidgetItem& item, int column) const {
    const QModelIndex index = indexFromItem(&item, column);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    return itemDelegateForIndex(index)->sizeHint(option, index).width();
}

bool FileList::FitsWithRoom(const QTreeWidgetItem& item, int column) const {
    constexpr int kRoom = 8;  // pixels the delegate may add beyond the text and margins
    return CellWidthFor(*this, item.text(column)) + kRoom < header()->sectionSize(column);
}

bool FileList::viewportEvent(QEvent* event) {
    return ShowCutCellTip(*this, event) || QTreeWidget::viewportEvent(event);
}

void FileList::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        emit doubleClickedAnywhere();
    }
}

void FileList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        event->accept();
        if (QTreeWidgetItem* item = currentItem(); item != nullptr && selectedItems().isEmpty()) {
            item->setSelected(true);
        }
        emit previewRequested();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

// The keyboard comes with nothing to act on otherwise: Enter, Space and the
// menu would each say first that no file is selected.
void FileList::focusInEvent(QFocusEvent* event) {
    QTreeWidget::focusInEvent(event);
    const Qt::FocusReason reason = event->reason();
    if ((reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason &&
         reason != Qt::ShortcutFocusReason) ||
        !selectedItems().isEmpty() || topLevelItemCount() == 0) {
        return;
    }
    QTreeWidgetItem* item = currentItem() != nullptr ? currentItem() : topLevelItem(0);
    setCurrentItem(item);
    item->setSelected(true);
}

// At its place at once: the view's own sorting of an added row waits for the
// event loop.
void FileList::AddRow(FileRow* row) {
    const int column = sortColumn();
    const bool ascending = header()->sortIndicatorOrder() == Qt::AscendingOrder;
    int low = 0;
    int high = topLevelItemCount();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        const QTreeWidgetItem& shown = *topLevelItem(middle);
        const bool before = ascending
                                ? row->SortsBefore(shown, column)
                                : dynamic_cast<const FileRow&>(shown).SortsBefore(*row, column);
        if (before) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    insertTopLevelItem(low, row);
}

QPoint FileList::MenuPosition() const {
    QTreeWidgetItem* item = currentItem();
    const QRect row = item != nullptr && item->isSelected() ? visualItemRect(item) : QRect();
    if (row.isValid() && viewport()->rect().intersects(row)) {
        return viewport()->mapToGlobal(QPoint(row.left() + row.height(), row.bottom()));
    }
    return mapToGlobal(rect().center());
}

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(false);
}

// The last line needs no leading below it.
int StatusLine::Lines() const {
    const QFontMetrics metrics = fontMetrics();
    return std::max(
        1, (contentsRect().height() - metrics.height()) / std::max(1, metrics.lineSpacing()) + 1);
}

void StatusLine::SetFullText(const QString& text) {
    // Line breaks of a message become spaces: the lines are the label's own.
    m_fullText = text;
    m_fullText.replace(QLatin1Char('\n'), QLatin1Char(' '));
    Elide();
}

void StatusLine::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

// The text laid out between words on the label's lines, the last one ending
// in an ellipsis when more is left.
void StatusLine::Elide() {
    const int width = contentsRect().width();
    QTextLayout layout(m_fullText, font());
    layout.beginLayout();
    QStringList lines;
    for (int i = 0, count = Lines(); i < count; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(width);
        const int end = line.textStart() + line.textLength();
        if (i + 1 == count && end < m_fullText.size()) {
            const QString rest = m_fullText.mid(line.textStart());
            lines.push_back(fontMetrics().elidedText(rest, Qt::ElideRight, width));
            break;
        }
        lines.push_back(m_fullText.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    setText(lines.join(QLatin1Char('\n')));
    setToolTip(m_fullText.isEmpty() ? QString() : PlainToolTip(m_fullText));
}

}  // namespace moravel::qt
