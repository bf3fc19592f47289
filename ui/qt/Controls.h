#pragma once

#include <QLabel>
#include <QRect>
#include <QTreeWidget>

namespace moravel::qt {

// The folder tree: a tree with connecting lines and expand buttons, no header.
// An item may show its button before its children are known; when the user
// opens such an item (the button, a double click, Right, '+' or '*'), the tree
// asks through expandRequested first, and whoever handles the request opens the
// item or takes its button away before the signal returns. Closing, and opening
// by any other way, is the view's own. The view itself opens nothing: it does not
// scroll to a new current item (which would open the folders around it), the
// owner calls ScrollToIfShown.
class FolderTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit FolderTree(QWidget* parent = nullptr);

    // The text of a cell the view cuts (by its width or its edge) in full; empty
    // when the cell shows all of it.
    static QString CutCellText(const QTreeView& view, const QPoint& position);

    // Closed, and showing an expand button.
    static bool IsClosedWithButton(const QTreeWidgetItem& item);
    // The item's expand button (the cell left of its text), in viewport coordinates.
    QRect ButtonRect(const QTreeWidgetItem& item) const;
    // Scrolls the item into view when it is shown (its parents open); an item in
    // a closed folder is left where it is, the folder closed.
    void ScrollToIfShown(QTreeWidgetItem* item);

signals:
    void expandRequested(QTreeWidgetItem* item);

protected:
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTreeWidgetItem* ButtonAt(const QPoint& position) const;
};

// The file list: a report view whose header sorts nothing, rows selected as a
// file manager selects them (Ctrl, Shift); a double click
// anywhere in it is reported (on a row or not, as the Windows list view does).
// A cell that cuts its text shows it whole as its tip, as the tree does.
class FileList : public QTreeWidget {
    Q_OBJECT
public:
    explicit FileList(QWidget* parent = nullptr);

    // The width the cell needs to show its text whole, as the view draws it.
    int CellWidth(const QTreeWidgetItem& item, int column) const;
    // Whether the cell's text fits its column with room to spare, by the font's
    // measure alone: a cell that does needs no delegate's (which is dear, and a
    // list of thousands of rows would ask it for every cell).
    bool FitsWithRoom(const QTreeWidgetItem& item, int column) const;

signals:
    void doubleClickedAnywhere();

protected:
    bool viewportEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// The status line: as many lines as its height holds, broken between words; a
// text longer than that ends in an ellipsis, and the whole of it is the tool tip.
class StatusLine : public QLabel {
    Q_OBJECT
public:
    explicit StatusLine(QWidget* parent = nullptr);
    void SetFullText(const QString& text);
    const QString& FullText() const { return m_fullText; }
    int Lines() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Elide();

    QString m_fullText;
};

}  // namespace moravel::qt
