#include "PlayListStandIn.h"

#include "player/config/Tool.h"

#include "player/mainform/Mainform.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

// A row is the list item itself.
struct ListRow : QListWidgetItem {};

namespace {
QString Text(const std::string& caption, const std::string& timeText) {
    QString t = QFile::decodeName(QByteArray::fromStdString(caption));
    if (!timeText.empty())
        t += QStringLiteral("  ") + QFile::decodeName(QByteArray::fromStdString(timeText));
    return t;
}
} // namespace

TPlayListStandIn::TPlayListStandIn() : QWidget(nullptr, Qt::Window) {
    setObjectName(QStringLiteral("PlayList"));
    setWindowTitle(QStringLiteral("PlayList - ") + QString::fromLatin1(MainCaption));
    resize(320, 331);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("ListView1"));
    count_ = new QLabel(this);
    column->addWidget(list_, 1);
    column->addWidget(count_);
}

// The list widget deletes its rows.
TPlayListStandIn::~TPlayListStandIn() = default;

ListRow* TPlayListStandIn::AppendRow(const std::string& caption, const std::string& timeText,
                                     TFile*) {
    auto* row = new ListRow;
    row->setText(Text(caption, timeText));
    list_->addItem(row);
    return row;
}

void TPlayListStandIn::DeleteRow(ListRow* row) {
    if (!row)
        return;
    list_->takeItem(list_->row(row));
    delete row;
}

void TPlayListStandIn::SetRowCaption(ListRow* row, const std::string& caption) {
    if (row)
        row->setText(Text(caption, {}));
}

void TPlayListStandIn::SetRowImage(ListRow* row, int image) {
    if (row) {
        QFont f = row->font();
        f.setBold(image == 1);
        row->setFont(f);
    }
}

void TPlayListStandIn::MakeRowVisible(ListRow* row) {
    if (row)
        list_->scrollToItem(row);
}

void TPlayListStandIn::SetCountText(const std::string& text) {
    count_->setText(QString::fromStdString(text));
}

ListRow* TPlayListStandIn::RowAt(int index) {
    QListWidgetItem* item = list_->item(index);
    return item ? static_cast<ListRow*>(item) : nullptr;
}

void TPlayListStandIn::SetRow(ListRow* row, const std::string& caption, const std::string& timeText,
                              TFile*) {
    if (row)
        row->setText(Text(caption, timeText));
}

void TPlayListStandIn::BeginRowUpdate() {
    list_->setUpdatesEnabled(false);
}

void TPlayListStandIn::EndRowUpdate() {
    list_->setUpdatesEnabled(true);
}

int TPlayListStandIn::RowCount() const {
    return list_->count();
}

bool TPlayListStandIn::ListHasFocus() const {
    QWidget* focus = QApplication::focusWidget();
    return focus && (focus == list_ || list_->isAncestorOf(focus));
}
