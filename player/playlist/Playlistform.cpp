#include "player/playlist/Playlistform.h"

#include "player/widgets/Accessible.h"

#include "platform/profile.h"
#include "player/config/Extention.h"
#include "player/config/Tool.h"
#include "player/config/WindowFont.h"
#include "player/core/Player.h"
#include "player/list/Filelist.h"
#include "player/playlist/Listimages.h"
#include "player/widgets/Widgetsupport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

constexpr int EntryRole = Qt::UserRole;
constexpr int ImageRole = Qt::UserRole + 1;
constexpr int DesignWidth = 320;
constexpr int DesignHeight = 331;
constexpr const char* Section = "playlistform";
constexpr int MinFileColumn = 20;
constexpr const char* ListFilter[] = {"List Files (*.lst)", "All Files (*)"};
// Loading also reads the lists other players write; saving stays .lst.
constexpr const char* M3uFilter = "M3U Play Lists (*.m3u *.m3u8)";

// A row handle is the tree item itself; the model never looks inside it.
ListRow* AsRow(QTreeWidgetItem* item) {
    return reinterpret_cast<ListRow*>(item);
}
QTreeWidgetItem* AsItem(ListRow* row) {
    return reinterpret_cast<QTreeWidgetItem*>(row);
}
TFile* EntryOf(const QTreeWidgetItem* item) {
    return reinterpret_cast<TFile*>(item->data(0, EntryRole).value<quintptr>());
}

QString FromBytes(const std::string& s) {
    return QFile::decodeName(QByteArray::fromStdString(s));
}
std::string ToBytes(const QString& s) {
    return QFile::encodeName(s).toStdString();
}

QToolButton* MakeButton(QWidget* parent, const char* name, int image, const QString& tip) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(ListImageIcon(image));
    b->setIconSize(QSize(16, 16));
    b->setAutoRaise(true);
    b->setToolTip(tip);
    // What a screen reader says of the button the focus reached.
    b->setAccessibleName(tip);
    // Reached by Tab alone: a click leaves the focus in the list. Space
    // presses the button tabbed to; its other keys still go to the main
    // window's shortcuts.
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

QAction* AddItem(QMenu* menu, const char* name, const QString& text) {
    QAction* a = menu->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    return a;
}

QStringList Filters(const std::vector<std::string>& choices) {
    QStringList filters;
    for (const std::string& c : choices)
        filters << QString::fromStdString(c);
    return filters;
}

// The moves of a drop onto row t of n rows. Rows above the target land just
// before it and rows below it just after, each group in its own order;
// below the last row (t == n) every selected row goes to the end.
std::vector<std::pair<int, int>> DropMoves(const std::vector<bool>& selected, int t) {
    const int n = static_cast<int>(selected.size());
    std::vector<std::pair<int, int>> moves;
    if (t < n) {
        int k = 0;
        for (int s = t - 1; s >= 0; --s)
            if (selected[static_cast<size_t>(s)])
                moves.emplace_back(s, t - k++);
        k = 0;
        for (int s = n - 1; s > t; --s)
            if (selected[static_cast<size_t>(s)])
                moves.emplace_back(s + k++, t);
    } else {
        int k = 0;
        for (int s = n - 1; s >= 0; --s)
            if (selected[static_cast<size_t>(s)])
                moves.emplace_back(s, n - 1 - k++);
    }
    return moves;
}

// What a screen reader says of a row: its caption, and that it plays, which
// the row shows only as a picture.
void NameRow(QTreeWidgetItem* item) {
    QString text = item->text(0);
    if (item->data(0, ImageRole).toInt() == 1)
        text += QObject::tr(", playing");
    item->setData(0, Qt::AccessibleTextRole, text);
    // An empty cell reads as nothing at all; say what is missing.
    item->setData(1, Qt::AccessibleTextRole,
                  item->text(1).isEmpty() ? QObject::tr("length unknown") : item->text(1));
}

} // namespace

// --- The window ------------------------------------------------------------

TPlayList::TPlayList(TFileList& list)
    : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                           Qt::WindowCloseButtonHint),
      list_(list) {
    setObjectName(QStringLiteral("PlayList"));
    setFont(WindowFont(font()));
    setWindowTitle(QStringLiteral("PlayList - ") + QString::fromLatin1(MainCaption));
    resize(DesignWidth, DesignHeight);
    BuildLayout();
    BuildMenus();
    // The list has the focus when the window opens, though Tab starts at the
    // tool bar above it.
    ListView1->setFocus();
    // Without stored bounds the desktop places the window.
    const TTool& s = SettingsStore();
    if (!s.ReadString(Section, "Left", "").empty() || !s.ReadString(Section, "Width", "").empty()) {
        WidgetPlacement placement(*this);
        s.LoadPlacement(Section, placement);
    }
    setAcceptDrops(true);
    FormResize();
}

TPlayList::~TPlayList() {
    FormDestroy();
    // The rows go with the window: no entry may keep pointing at one.
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        if (TFile* entry = EntryOf(ListView1->topLevelItem(i)))
            if (entry->Row == AsRow(ListView1->topLevelItem(i)))
                entry->Row = nullptr;
    if (list_.View() == this)
        list_.SetView(nullptr);
}

void TPlayList::FormDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    // A window never shown has no place of its own to keep.
    if (!shown_)
        return;
    try {
        WidgetPlacement placement(*this);
        SettingsStore().SavePlacement(Section, placement);
    } catch (const profile::Error& e) {
        std::fprintf(stderr, "zarnplayer: %s\n", e.what());
    }
}

void TPlayList::BuildLayout() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolButton1 = MakeButton(ToolBar1, "ToolButton1", 0, tr("Add Files"));
    ToolButton2 = MakeButton(ToolBar1, "ToolButton2", 1, tr("Add Folder"));
    ToolButton3 = MakeButton(ToolBar1, "ToolButton3", 2, tr("Prev"));
    ToolButton6 = MakeButton(ToolBar1, "ToolButton6", 5, tr("Play"));
    ToolButton7 = MakeButton(ToolBar1, "ToolButton7", 6, tr("Next"));
    ToolButton9 = MakeButton(ToolBar1, "ToolButton9", 7, tr("Remove Files"));
    ToolButton10 = MakeButton(ToolBar1, "ToolButton10", 8, tr("Sort"));
    ToolButton11 = MakeButton(ToolBar1, "ToolButton11", 9, tr("Open List Files"));
    ToolButton12 = MakeButton(ToolBar1, "ToolButton12", 10, tr("Save List File"));
    ToolBar1->addWidget(ToolButton1);
    ToolBar1->addWidget(ToolButton2);
    ToolBar1->addSeparator();
    ToolBar1->addWidget(ToolButton3);
    ToolBar1->addWidget(ToolButton6);
    ToolBar1->addWidget(ToolButton7);
    ToolBar1->addSeparator();
    ToolBar1->addWidget(ToolButton9);
    ToolBar1->addWidget(ToolButton10);
    ToolBar1->addWidget(ToolButton11);
    ToolBar1->addWidget(ToolButton12);
    ToolBar1->addSeparator();
    column->addWidget(ToolBar1);

    ListView1 = new TPlayListView(this);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    ListView1->installEventFilter(this);
    ListView1->viewport()->installEventFilter(this);
    column->addWidget(ListView1, 1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    StatusPanel0->setAlignment(Qt::AlignCenter);
    StatusPanel0->setFixedWidth(48);
    StatusPanel1 = new QLabel(StatusBar1);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    StatusPanel1->setMinimumWidth(50);
    // A long path must not widen the window.
    StatusPanel1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusBar1->addWidget(StatusPanel0);
    StatusBar1->addWidget(StatusPanel1, 1);
    column->addWidget(StatusBar1);

    connect(ToolButton1, &QToolButton::clicked, this, &TPlayList::ToolButton1Click);
    connect(ToolButton2, &QToolButton::clicked, this, &TPlayList::ToolButton2Click);
    connect(ToolButton3, &QToolButton::clicked, this, &TPlayList::ToolButton3Click);
    connect(ToolButton6, &QToolButton::clicked, this, &TPlayList::ToolButton6Click);
    connect(ToolButton7, &QToolButton::clicked, this, &TPlayList::ToolButton7Click);
    connect(ToolButton9, &QToolButton::clicked, this, &TPlayList::ToolButton9Click);
    connect(ToolButton10, &QToolButton::clicked, this, &TPlayList::ToolButton10Click);
    connect(ToolButton11, &QToolButton::clicked, this, &TPlayList::ToolButton11Click);
    connect(ToolButton12, &QToolButton::clicked, this, &TPlayList::ToolButton12Click);
    connect(ListView1, &TPlayListView::rowsDropped, this, &TPlayList::ListView1DragDrop);
    connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected) {
                const QModelIndexList rows = selected.indexes();
                if (!rows.isEmpty())
                    ListView1SelectItem(ListView1->topLevelItem(rows.last().row()));
            });
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->popup(ListView1->viewport()->mapToGlobal(pos));
    });
}

void TPlayList::BuildMenus() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    connect(AddItem(PopupMenu1, "Play1", tr("&Play")), &QAction::triggered, this,
            &TPlayList::Play1Click);
    PopupMenu1->addSeparator();
    connect(AddItem(PopupMenu1, "Add1", tr("&Add Files...")), &QAction::triggered, this,
            &TPlayList::Add1Click);
    connect(AddItem(PopupMenu1, "Delete1", tr("&Remove Files")), &QAction::triggered, this,
            &TPlayList::Delete1Click);
    PopupMenu1->addSeparator();
    connect(AddItem(PopupMenu1, "SelectAll1", tr("&Select All")), &QAction::triggered, this,
            &TPlayList::SelectAll1Click);

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    connect(AddItem(PopupMenu2, "selected1", tr("&Selected Files")), &QAction::triggered, this,
            &TPlayList::selected1Click);
    connect(AddItem(PopupMenu2, "Unselected1", tr("&Unselected Files")), &QAction::triggered, this,
            &TPlayList::Unselected1Click);
    connect(AddItem(PopupMenu2, "deleteall1", tr("&All Files")), &QAction::triggered, this,
            &TPlayList::deleteall1Click);
    ToolButton9->setMenu(PopupMenu2);
    ToolButton9->setPopupMode(QToolButton::MenuButtonPopup);

    PopupMenu3 = new QMenu(this);
    PopupMenu3->setObjectName(QStringLiteral("PopupMenu3"));
    connect(AddItem(PopupMenu3, "SortByFileName1", tr("&Sort by FileName")), &QAction::triggered,
            this, &TPlayList::SortByFileName1Click);
    PopupMenu3->addSeparator();
    connect(AddItem(PopupMenu3, "SortByFileName2", tr("S&huffle List")), &QAction::triggered, this,
            &TPlayList::SortByFileName2Click);
    connect(AddItem(PopupMenu3, "Reverse1", tr("&Reverse List")), &QAction::triggered, this,
            &TPlayList::Reverse1Click);
    ToolButton10->setMenu(PopupMenu3);
    ToolButton10->setPopupMode(QToolButton::MenuButtonPopup);
    // The menu key opens a button's menu, which the mouse reaches by the
    // button's arrow.
    for (QToolButton* b : {ToolButton9, ToolButton10}) {
        b->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(b, &QWidget::customContextMenuRequested, b, &QToolButton::showMenu);
    }
}

QFileDialog& TPlayList::OpenDialog() {
    // Made on first use: a file dialog watches folders from its creation.
    if (!OpenDialog1) {
        OpenDialog1 = new QFileDialog(this);
        OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
        OpenDialog1->setFileMode(QFileDialog::ExistingFiles);
        OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
        OpenDialog1->setSizeGripEnabled(true);
    }
    return *OpenDialog1;
}

QFileDialog& TPlayList::SaveDialog() {
    if (!SaveDialog1) {
        SaveDialog1 = new QFileDialog(this);
        SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
        SaveDialog1->setFileMode(QFileDialog::AnyFile);
        SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
        SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, true);
    }
    return *SaveDialog1;
}

// --- Window events ---------------------------------------------------------

void TPlayList::closeEvent(QCloseEvent* e) {
    // FormClose: the window is only hidden; the main window shows it again.
    e->ignore();
    hide();
}

void TPlayList::showEvent(QShowEvent* e) {
    shown_ = true;
    QWidget::showEvent(e);
}

void TPlayList::FormResize() {
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ListView1);
    const int border = 1;
    const int width = ListView1->width() - ListView1->columnWidth(1) - scrollBar - 4 * border;
    // Never narrower than its marker, so every row keeps a spot to point at.
    ListView1->setColumnWidth(0, std::max(width, MinFileColumn));
}

bool TPlayList::eventFilter(QObject* watched, QEvent* e) {
    if (watched == ListView1) {
        if (e->type() == QEvent::Resize)
            FormResize();
        else if (e->type() == QEvent::KeyPress && ListView1KeyDown(static_cast<QKeyEvent*>(e)))
            return true;
    } else if (watched == ListView1->viewport() && e->type() == QEvent::MouseButtonDblClick) {
        // After the press of the double click has updated the selection.
        ListView1DblClick();
    }
    return QWidget::eventFilter(watched, e);
}

bool TPlayList::ListView1KeyDown(QKeyEvent* e) {
    if (ListView1->Dragging())
        return false;
    if (e->key() == Qt::Key_Delete) {
        selected1Click();
        return true;
    }
    // The keyboard's double click.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        ListView1DblClick();
        return true;
    }
    if (e->key() == Qt::Key_A && (e->modifiers() & Qt::ControlModifier)) {
        SelectAll1Click();
        return true;
    }
    if ((e->key() == Qt::Key_Up || e->key() == Qt::Key_Down) &&
        (e->modifiers() & Qt::ControlModifier)) {
        MoveSelectedRows(e->key() == Qt::Key_Up ? -1 : 1);
        return true;
    }
    return false;
}

void TPlayList::keyPressEvent(QKeyEvent* e) {
    // Keys the list view had and did not use come here too; they stay with
    // the list.
    QWidget* focus = QApplication::focusWidget();
    const bool inList = focus && (focus == ListView1 || ListView1->isAncestorOf(focus));
    if (!inList && shortcutHandler_ && shortcutHandler_(e->key())) {
        e->accept();
        return;
    }
    QWidget::keyPressEvent(e);
}

void TPlayList::ListView1SelectItem(QTreeWidgetItem* item) {
    if (TFile* entry = item ? EntryOf(item) : nullptr)
        StatusPanel1->setText(FromBytes(entry->FileName));
}

// --- Files dropped from the desktop ----------------------------------------

namespace {} // namespace

void TPlayList::dragEnterEvent(QDragEnterEvent* e) {
    if (!LocalFiles(e->mimeData()).empty())
        e->acceptProposedAction();
}

void TPlayList::dragMoveEvent(QDragMoveEvent* e) {
    if (!LocalFiles(e->mimeData()).empty())
        e->acceptProposedAction();
}

void TPlayList::dropEvent(QDropEvent* e) {
    const std::vector<std::string> names = LocalFiles(e->mimeData());
    if (names.empty())
        return;
    e->acceptProposedAction();
    // Added to what is listed; files are added, folders walked.
    list_.BeginUpdate();
    for (const std::string& name : names)
        list_.Add(name);
    list_.EndUpdate();
}

// --- The model's view ------------------------------------------------------

ListRow* TPlayList::AppendRow(const std::string& caption, const std::string& timeText,
                              TFile* entry) {
    auto* item = new QTreeWidgetItem(ListView1);
    SetRow(AsRow(item), caption, timeText, entry);
    SetRowImage(AsRow(item), 0);
    return AsRow(item);
}

void TPlayList::DeleteRow(ListRow* row) {
    if (!row)
        return;
    QTreeWidgetItem* item = AsItem(row);
    // ListView1Deletion: the entry lets go of its row.
    if (TFile* entry = EntryOf(item); entry && entry->Row == row)
        entry->Row = nullptr;
    delete item;
}

void TPlayList::SetRowCaption(ListRow* row, const std::string& caption) {
    if (!row)
        return;
    AsItem(row)->setText(0, FromBytes(caption));
    NameRow(AsItem(row));
}

void TPlayList::SetRowImage(ListRow* row, int image) {
    if (!row)
        return;
    QTreeWidgetItem* item = AsItem(row);
    item->setData(0, ImageRole, image);
    item->setIcon(0, RowMarker(image));
    NameRow(item);
}

void TPlayList::MakeRowVisible(ListRow* row) {
    if (!row)
        return;
    QTreeWidgetItem* item = AsItem(row);
    if (!ListView1->visualItemRect(item).intersects(ListView1->viewport()->rect()))
        ListView1->scrollToItem(item, QAbstractItemView::EnsureVisible);
}

void TPlayList::SetCountText(const std::string& text) {
    StatusPanel0->setText(QString::fromStdString(text));
}

ListRow* TPlayList::RowAt(int index) {
    QTreeWidgetItem* item = ListView1->topLevelItem(index);
    return item ? AsRow(item) : nullptr;
}

void TPlayList::SetRow(ListRow* row, const std::string& caption, const std::string& timeText,
                       TFile* entry) {
    if (!row)
        return;
    QTreeWidgetItem* item = AsItem(row);
    item->setText(0, FromBytes(caption));
    item->setText(1, FromBytes(timeText));
    item->setData(0, EntryRole, QVariant::fromValue(reinterpret_cast<quintptr>(entry)));
    NameRow(item);
}

void TPlayList::BeginRowUpdate() {
    if (rowUpdates_++ == 0)
        ListView1->setUpdatesEnabled(false);
}

void TPlayList::EndRowUpdate() {
    if (rowUpdates_ > 0 && --rowUpdates_ == 0)
        ListView1->setUpdatesEnabled(true);
}

void TPlayList::ClearList() {
    list_.ClearList();
}

TFile* TPlayList::RowEntry(int row) const {
    QTreeWidgetItem* item = ListView1->topLevelItem(row);
    return item ? EntryOf(item) : nullptr;
}

int TPlayList::RowImage(int row) const {
    QTreeWidgetItem* item = ListView1->topLevelItem(row);
    return item ? item->data(0, ImageRole).toInt() : -1;
}

std::vector<int> TPlayList::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : ListView1->selectionModel()->selectedRows(0))
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<bool> TPlayList::SelectedFlags() const {
    std::vector<bool> flags(static_cast<size_t>(ListView1->topLevelItemCount()), false);
    for (int row : SelectedRows())
        flags[static_cast<size_t>(row)] = true;
    return flags;
}

// --- Commands --------------------------------------------------------------

bool TPlayList::ListHasFocus() const {
    QWidget* focus = QApplication::focusWidget();
    return focus && (focus == ListView1 || ListView1->isAncestorOf(focus));
}

void TPlayList::UpdatePrevNext() {
    if (core_)
        core_->ListChanged();
}

void TPlayList::ToolButton1Click() {
    QFileDialog& dialog = OpenDialog();
    dialog.setNameFilters(Filters(TExtentions::FilterChoices()));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList files = dialog.selectedFiles();
    list_.BeginUpdate();
    for (const QString& f : files)
        list_.Add(ToBytes(f));
    list_.EndUpdate();
}

void TPlayList::ToolButton2Click() {
    const std::optional<std::string> folder =
        SettingsStore().BrowseForFolder(static_cast<QWidget*>(this), "");
    if (!folder)
        return;
    list_.BeginUpdate();
    list_.AddFolder(*folder);
    list_.EndUpdate();
}

void TPlayList::ToolButton3Click() {
    if (core_)
        core_->Prev();
}

void TPlayList::ToolButton7Click() {
    if (core_)
        core_->Next();
}

void TPlayList::ToolButton6Click() {
    const std::vector<int> rows = SelectedRows();
    if (rows.empty())
        return;
    const std::string name = list_.Select(rows.front());
    if (core_)
        core_->PlayEntry(name);
}

void TPlayList::RemoveRows(bool selected) {
    const std::vector<bool> flags = SelectedFlags();
    BeginRowUpdate();
    // From the last row up, so the rows not yet visited keep their places.
    for (int i = static_cast<int>(flags.size()) - 1; i >= 0; --i) {
        if (flags[static_cast<size_t>(i)] == selected)
            list_.Remove(i); // an entry under analysis stays
        UpdatePrevNext();
    }
    EndRowUpdate();
}

void TPlayList::deleteall1Click() {
    ClearList();
    UpdatePrevNext();
}

void TPlayList::SortAndRelist(TSortKind kind) {
    list_.Sort(kind);
    list_.Relist();
}

void TPlayList::SortByFileName1Click() {
    SortAndRelist(TSortKind::ByName);
}

void TPlayList::SortByFileName2Click() {
    SortAndRelist(TSortKind::Shuffle);
}

void TPlayList::Reverse1Click() {
    SortAndRelist(TSortKind::Reverse);
}

void TPlayList::ToolButton11Click() {
    QFileDialog& dialog = OpenDialog();
    dialog.setNameFilters(Filters({ListFilter[0], M3uFilter, ListFilter[1]}));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList files = dialog.selectedFiles();
    // The lists are joined; nothing is made current and nothing plays.
    list_.BeginUpdate();
    ClearList();
    for (const QString& f : files)
        list_.LoadFromFile(ToBytes(f));
    list_.EndUpdate();
}

void TPlayList::ToolButton12Click() {
    QFileDialog& dialog = SaveDialog();
    dialog.setNameFilters(Filters({ListFilter[0], ListFilter[1]}));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    std::string name = ToBytes(dialog.selectedFiles().front());
    if (ExtensionOf(name).empty())
        name += ".lst";
    try {
        // Written beside and renamed over the old file: a failed save leaves
        // that file as it was.
        list_.SaveToFile(name);
    } catch (const profile::Error& e) {
        std::fprintf(stderr, "zarnplayer: %s\n", e.what());
        QMessageBox::warning(
            this, QString::fromLatin1(MainCaption),
            tr("The play list could not be saved.\n%1").arg(QString::fromLocal8Bit(e.what())));
    }
}

void TPlayList::SelectAll1Click() {
    ListView1->selectAll();
}

void TPlayList::ListView1DragDrop(int y) {
    const std::vector<bool> selected = SelectedFlags();
    const int n = static_cast<int>(selected.size());
    const int t = ListView1->TargetRow(y);
    // The entries that move, read from the rows as they stand before the drop.
    std::vector<TFile*> moved;
    for (int s = 0; s < n; ++s)
        if (selected[static_cast<size_t>(s)] && s != t)
            moved.push_back(RowEntry(s));
    if (moved.empty())
        return;
    for (const auto& [from, to] : DropMoves(selected, t))
        list_.Move(from, to);
    list_.Relist();
    SelectEntries(moved);
}

void TPlayList::SelectEntries(const std::vector<TFile*>& entries) {
    ListView1->clearSelection();
    QItemSelection selection;
    for (TFile* entry : entries)
        if (entry && entry->Row) {
            const QModelIndex index = ListView1->IndexOf(AsItem(entry->Row));
            selection.select(index, index);
        }
    ListView1->selectionModel()->select(selection,
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TPlayList::MoveSelectedRows(int delta) {
    const std::vector<bool> selected = SelectedFlags();
    const int n = static_cast<int>(selected.size());
    std::vector<TFile*> moved;
    QTreeWidgetItem* current = ListView1->currentItem();
    TFile* currentEntry = current ? EntryOf(current) : nullptr;
    // Rows are taken from the end they move towards, so a block of selected
    // rows moves whole and stops whole at the list's end.
    std::vector<bool> now = selected;
    for (int k = 0; k < n; ++k) {
        const int s = delta < 0 ? k : n - 1 - k;
        const int to = s + delta;
        if (!now[static_cast<size_t>(s)])
            continue;
        moved.push_back(RowEntry(s));
        if (to < 0 || to >= n || now[static_cast<size_t>(to)])
            continue;
        list_.Move(s, to);
        now[static_cast<size_t>(to)] = true;
        now[static_cast<size_t>(s)] = false;
    }
    if (now == selected)
        return;
    list_.Relist();
    if (currentEntry && currentEntry->Row)
        ListView1->setCurrentItem(AsItem(currentEntry->Row), 0, QItemSelectionModel::NoUpdate);
    SelectEntries(moved);
    // The rows keep their names, so their focus alone does not say they moved.
    std::vector<int> rows;
    for (TFile* entry : moved)
        rows.push_back(ListView1->indexOfTopLevelItem(AsItem(entry->Row)));
    std::sort(rows.begin(), rows.end());
    if (rows.size() == 1)
        Announce(this, tr("%1 moved to row %2 of %3")
                           .arg(AsItem(moved.front()->Row)->text(0))
                           .arg(rows.front() + 1)
                           .arg(n));
    else if (!rows.empty())
        Announce(this, tr("%1 rows moved to rows %2 to %3 of %4")
                           .arg(rows.size())
                           .arg(rows.front() + 1)
                           .arg(rows.back() + 1)
                           .arg(n));
}
