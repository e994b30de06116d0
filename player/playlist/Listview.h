// The list view of the play list window (the window itself is
// Playlistform.h). Rows are dragged within it by the mouse alone: they are
// the only drag source of the program, so no platform drag is started and
// the same code runs with and without a display.
#pragma once

#include <QTreeWidget>

class TPlayListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TPlayListView(QWidget* parent);

    bool Dragging() const { return dragging_; }
    // The first row whose rectangle holds y (viewport coordinates), or the
    // number of rows when none does.
    int TargetRow(int y) const;
    QModelIndex IndexOf(QTreeWidgetItem* item) const { return indexFromItem(item); }
    // Tells a screen reader the current row again, as if it had just been
    // chosen, while the view has the focus.
    void SayCurrent();

signals:
    // The selected rows were dropped at y (viewport coordinates).
    void rowsDropped(int y);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void EndDrag();

    bool pressedOnRow_ = false;
    bool dragging_ = false;
    QPoint pressPos_;
    int dropY_ = 0;
};
