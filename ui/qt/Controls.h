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

// Names in the order people count: digits taken as numbers ("Folge 2" before
// "Folge 10"), letters without regard to case; names equal in that way go by
// their characters, so that the order is total.
bool NaturalLess(const QString& a, const QString& b);

// A row of the file list, ordered by the column the list sorts by: names in
// natural order, sizes by their bytes, dates by the entry's moment, never by
// the text shown. A size or date not known (yet) goes before every known one;
// rows equal in the column go by name.
class FileRow : public QTreeWidgetItem {
public:
    static constexpr qint64 kUnknown = -1;
    void SetBytes(qint64 bytes) { m_bytes = bytes; }
    void SetMoment(qint64 moment) { m_moment = moment; }
    // Whether this row goes before the other when the list sorts by column.
    bool SortsBefore(const QTreeWidgetItem& other, int column) const;
    bool operator<(const QTreeWidgetItem& other) const override;

private:
    qint64 m_bytes = kUnknown;
    qint64 m_moment = kUnknown;
};

// The file list: a report view sorted by a click on any column's header (the
// arrow shows which and how), rows selected as a file manager selects them
// (Ctrl, Shift); a double click anywhere in it is reported (on a row or not, as
// the Windows list view does). A cell that cuts its text shows it whole as its
// tip, as the tree does. Reached with Tab while nothing is selected, the row
// with the focus (else the first) is selected; Space asks for a preview of the
// selection, as a file manager's quick look.
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
    // Where the menu of the selection opens: below the current row when it is
    // selected and shown, else the middle of the view (global coordinates).
    QPoint MenuPosition() const;
    // Adds the row where the list's order puts it.
    void AddRow(FileRow* row);

signals:
    void doubleClickedAnywhere();
    void previewRequested();

protected:
    bool viewportEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
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
