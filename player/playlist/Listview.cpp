#include "player/playlist/Listview.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

TPlayListView::TPlayListView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("ListView1"));
    setColumnCount(2);
    setHeaderLabels({QStringLiteral("File"), QStringLiteral("Time")});
    setAccessibleName(tr("Play list"));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    setAllColumnsShowFocus(true);
    // A press on a selected row keeps the selection until the release, so
    // the whole selection can be dragged.
    setDragEnabled(true);
    setAcceptDrops(false);
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    header()->setMinimumSectionSize(0);
    header()->resizeSection(1, 0);
    // The selection stays as visible while the window is inactive.
    QPalette pal = palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    setPalette(pal);
}

int TPlayListView::TargetRow(int y) const {
    // Rows lie one below the other, so the first row holding y is the row
    // at y; any column's x finds it.
    const int x = std::max(0, columnViewportPosition(0));
    const QModelIndex index = indexAt(QPoint(x, y));
    return index.isValid() ? index.row() : topLevelItemCount();
}

void TPlayListView::mousePressEvent(QMouseEvent* e) {
    if (dragging_)
        return;
    QTreeWidget::mousePressEvent(e);
    pressPos_ = e->position().toPoint();
    pressedOnRow_ = e->button() == Qt::LeftButton && itemAt(pressPos_) != nullptr;
}

void TPlayListView::mouseMoveEvent(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    if (dragging_) {
        dropY_ = pos.y();
        // Near an edge the list scrolls, so any row can be reached.
        const int margin = std::max(4, sizeHintForRow(0) / 2);
        if (pos.y() < margin)
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        else if (pos.y() > viewport()->height() - margin)
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        viewport()->update();
        return;
    }
    if (pressedOnRow_ && (e->buttons() & Qt::LeftButton)) {
        // The base class would start the platform's drag here.
        QTreeWidgetItem* pressed = itemAt(pressPos_);
        if ((pos - pressPos_).manhattanLength() >= QApplication::startDragDistance() && pressed &&
            pressed->isSelected()) {
            dragging_ = true;
            dropY_ = pos.y();
            viewport()->setCursor(Qt::DragMoveCursor);
            viewport()->update();
        }
        return;
    }
    QTreeWidget::mouseMoveEvent(e);
}

void TPlayListView::mouseReleaseEvent(QMouseEvent* e) {
    if (dragging_) {
        if (e->button() != Qt::LeftButton)
            return;
        const int y = e->position().toPoint().y();
        EndDrag();
        emit rowsDropped(y);
        return;
    }
    pressedOnRow_ = false;
    QTreeWidget::mouseReleaseEvent(e);
}

void TPlayListView::keyPressEvent(QKeyEvent* e) {
    if (dragging_) {
        if (e->key() == Qt::Key_Escape)
            EndDrag();
        return;
    }
    QTreeWidget::keyPressEvent(e);
}

void TPlayListView::focusInEvent(QFocusEvent* e) {
    QTreeWidget::focusInEvent(e);
    // The view reports its own focus after its row's, so a screen reader
    // would rest on the list and never say the row: the row once more, last.
    QTimer::singleShot(0, this, &TPlayListView::SayCurrent);
}

void TPlayListView::SayCurrent() {
    if (hasFocus() && currentIndex().isValid())
        currentChanged(currentIndex(), QModelIndex());
}

void TPlayListView::focusOutEvent(QFocusEvent* e) {
    if (dragging_)
        EndDrag();
    QTreeWidget::focusOutEvent(e);
}

void TPlayListView::EndDrag() {
    dragging_ = false;
    pressedOnRow_ = false;
    viewport()->unsetCursor();
    viewport()->update();
}

void TPlayListView::paintEvent(QPaintEvent* e) {
    QTreeWidget::paintEvent(e);
    if (!dragging_)
        return;
    // Where the rows would go: a frame round the target row, or a line
    // below the last row.
    QPainter p(viewport());
    p.setPen(QPen(palette().color(QPalette::Active, QPalette::Highlight), 2));
    const int t = TargetRow(dropY_);
    if (t < topLevelItemCount()) {
        p.drawRect(visualItemRect(topLevelItem(t)).adjusted(1, 1, -1, -1));
    } else {
        const int n = topLevelItemCount();
        const int y = n > 0 ? visualItemRect(topLevelItem(n - 1)).bottom() + 1 : 1;
        p.drawLine(0, y, viewport()->width(), y);
    }
}
