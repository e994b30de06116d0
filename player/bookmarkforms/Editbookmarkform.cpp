#include "player/bookmarkforms/Editbookmarkform.h"

#include "platform/commatext.h"
#include "player/bookmarkforms/Edittitleform.h"
#include "player/bookmarkforms/Formlook.h"
#include "player/bookmarks/Hashstring.h"
#include "player/config/Extention.h"
#include "player/config/Tool.h"

#include <QCursor>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QUrl>

#include <filesystem>
#include <iterator>

namespace {

QPushButton* makeButton(QWidget* parent, const char* name, const char* text, int top) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(name);
    button->setGeometry(292, top, 75, 25);
    button->setAutoDefault(false);
    return button;
}

QAction* makeAction(QMenu* menu, const char* name, const char* text) {
    QAction* action = menu->addAction(QString::fromUtf8(text));
    action->setObjectName(name);
    return action;
}

std::string bytesOf(const QTreeWidgetItem* row, int role) {
    return row->data(0, role).toByteArray().toStdString();
}

QString displayName(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

// A dropped name that is neither missing nor a folder is taken as a file.
bool isExistingFile(const std::string& name) {
    std::error_code ec;
    auto status = std::filesystem::status(name, ec);
    return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

} // namespace

TEditBookmark::TEditBookmark(QWidget* parent, TBookmarks& bookmarks)
    : QDialog(parent), bookmarks_(bookmarks) {
    setObjectName("EditBookmark");
    setWindowTitle("Edit Bookmark");

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName("ListView1");
    ListView1->setGeometry(4, 4, 281, 141);
    ListView1->setColumnCount(1);
    ListView1->setHeaderHidden(true);
    ListView1->setRootIsDecorated(false);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    // Neither field has a label on the form; a screen reader says these.
    ListView1->setAccessibleName(tr("Bookmarks"));

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(4, 148, 281, 61);
    Memo1->setReadOnly(true);
    Memo1->setAccessibleName(tr("Files and folders of the bookmark"));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette memoPalette = Memo1->palette();
    memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::Button));
    Memo1->setPalette(memoPalette);

    Button7 = makeButton(this, "Button7", "&Add", 4);
    Button3 = makeButton(this, "Button3", "&Edit", 32);
    Button4 = makeButton(this, "Button4", "&Remove", 60);
    Button5 = makeButton(this, "Button5", "&UP", 92);
    Button6 = makeButton(this, "Button6", "&DOWN", 120);
    Button1 = makeButton(this, "Button1", "&OK", 156);
    Button1->setDefault(true);
    Button2 = makeButton(this, "Button2", "&Close", 184);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    AddFiles1 = makeAction(PopupMenu1, "AddFiles1", "Add &Files...");
    AddDirectory1 = makeAction(PopupMenu1, "AddDirectory1", "Add &Directory...");

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName("PopupMenu2");
    QMenu* add = PopupMenu2->addMenu("&Add");
    add->setObjectName("Add1");
    AddFiles2 = makeAction(add, "AddFiles2", "Add &Files...");
    AddDirectory2 = makeAction(add, "AddDirectory2", "Add &Directory...");
    Edit1 = makeAction(PopupMenu2, "Edit1", "&Edit");
    Remove1 = makeAction(PopupMenu2, "Remove1", "&Remove");

    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName("OpenDialog1");
    OpenDialog1->setFileMode(QFileDialog::ExistingFiles);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);

    connect(ListView1, &QTreeWidget::itemSelectionChanged, this,
            &TEditBookmark::ListView1SelectItem);
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, &TEditBookmark::Button3Click);
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu2->popup(ListView1->viewport()->mapToGlobal(pos));
    });
    connect(Button7, &QPushButton::clicked, this, &TEditBookmark::Button7Click);
    connect(Button3, &QPushButton::clicked, this, &TEditBookmark::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TEditBookmark::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TEditBookmark::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TEditBookmark::Button6Click);
    connect(Button1, &QPushButton::clicked, this, &TEditBookmark::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TEditBookmark::Button2Click);
    connect(AddFiles1, &QAction::triggered, this, &TEditBookmark::AddFiles1Click);
    connect(AddDirectory1, &QAction::triggered, this, &TEditBookmark::AddDirectory1Click);
    connect(AddFiles2, &QAction::triggered, this, &TEditBookmark::AddFiles1Click);
    connect(AddDirectory2, &QAction::triggered, this, &TEditBookmark::AddDirectory1Click);
    connect(Edit1, &QAction::triggered, this, &TEditBookmark::Button3Click);
    connect(Remove1, &QAction::triggered, this, &TEditBookmark::Button4Click);
    connect(PopupMenu2, &QMenu::aboutToShow, this, &TEditBookmark::PopupMenu2Popup);

    // The buttons beside the list act on it, so Tab takes them before the
    // files box below it.
    QWidget* order[] = {ListView1, Button7, Button3, Button4, Button5,
                        Button6,   Memo1,   Button1, Button2};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    SetUpFixedDialog(this, 372, 212);
    FormCreate();
}

void TEditBookmark::FormCreate() {
    setWindowTitle(windowTitle() + " - " + VersionText);

    for (const std::string& text : bookmarks_.records) {
        HashString record;
        record.SetText(text);
        addRow(record.Get("Title"), record.Get("Type"), record.Get("Path"));
    }

    // As wide as the view can show without a horizontal scroll bar.
    int scrollBar = ListView1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ListView1);
    ListView1->setColumnWidth(0, ListView1->width() - scrollBar - 4 * ListView1->frameWidth());

    ListView1->setAcceptDrops(true);
    ListView1->viewport()->setAcceptDrops(true);
    ListView1->viewport()->installEventFilter(this);
    ListView1->installEventFilter(this);
}

void TEditBookmark::addRow(const std::string& title, const std::string& type,
                           const std::string& path) {
    auto* row = new QTreeWidgetItem;
    row->setText(0, QString::fromStdString(title));
    row->setData(0, TitleRole, QByteArray::fromStdString(title));
    row->setData(0, TypeRole, QByteArray::fromStdString(type));
    row->setData(0, PathRole, QByteArray::fromStdString(path));
    // New rows always go after every other row, whatever was removed before.
    ListView1->addTopLevelItem(row);
}

std::vector<std::string> TEditBookmark::namesOf(const QTreeWidgetItem* row) {
    std::string path = bytesOf(row, PathRole);
    if (bytesOf(row, TypeRole) == "Files")
        return ReadCommaText(path);
    return {path};
}

bool TEditBookmark::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListView1->viewport()) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (drag->mimeData()->hasUrls()) {
                drag->acceptProposedAction();
                return true;
            }
            break;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            std::vector<std::string> names;
            for (const QUrl& url : drop->mimeData()->urls())
                if (url.isLocalFile())
                    names.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
            if (names.empty())
                break;
            drop->acceptProposedAction();
            ListView1DropFiles(names);
            return true;
        }
        default:
            break;
        }
    } else if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
            Button4Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TEditBookmark::ListView1SelectItem() {
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty())
        return;
    QStringList lines;
    for (const std::string& name : namesOf(selected.front()))
        lines << displayName(name);
    Memo1->setPlainText(lines.join('\n'));
}

void TEditBookmark::ListView1DropFiles(const std::vector<std::string>& names) {
    std::vector<std::string> files;
    for (const std::string& name : names) {
        if (isExistingFile(name))
            files.push_back(name);
        else
            addRow(name, "Directory", name);
    }
    if (!files.empty())
        addRow(files.front(), "Files", CommaText(files));
}

void TEditBookmark::Button7Click() {
    // Under the pointer for a click; below the button when a key pressed it
    // and the pointer may be anywhere.
    const bool pointed = Button7->rect().contains(Button7->mapFromGlobal(QCursor::pos()));
    PopupMenu1->popup(pointed ? QCursor::pos()
                              : Button7->mapToGlobal(QPoint(0, Button7->height())));
}

void TEditBookmark::AddFiles1Click() {
    QStringList filters;
    for (const std::string& choice : TExtentions::FilterChoices())
        filters << QString::fromStdString(choice);
    OpenDialog1->setNameFilters(filters);
    if (OpenDialog1->exec() != QDialog::Accepted)
        return;
    std::vector<std::string> files;
    for (const QString& file : OpenDialog1->selectedFiles())
        files.push_back(QFile::encodeName(file).toStdString());
    if (files.empty())
        return;
    std::string title = files.front();
    TEditTitle dialog(this);
    if (dialog.ShowTitleDialog(title, files))
        addRow(title, "Files", CommaText(files));
}

void TEditBookmark::AddDirectory1Click() {
    std::optional<std::string> folder = SettingsStore().BrowseForFolder(this, "");
    if (!folder || folder->empty())
        return;
    std::string title = *folder;
    TEditTitle dialog(this);
    if (dialog.ShowTitleDialog(title, {*folder}))
        addRow(title, "Directory", *folder);
}

void TEditBookmark::Button3Click() {
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty())
        return;
    QTreeWidgetItem* row = selected.front();
    std::string title = bytesOf(row, TitleRole);
    TEditTitle dialog(this);
    if (dialog.ShowTitleDialog(title, namesOf(row))) {
        row->setText(0, QString::fromStdString(title));
        row->setData(0, TitleRole, QByteArray::fromStdString(title));
    }
}

void TEditBookmark::Button4Click() {
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty())
        return;
    for (auto it = selected.rbegin(); it != selected.rend(); ++it)
        delete *it;
    Memo1->clear();
    if (QTreeWidgetItem* focused = ListView1->currentItem()) {
        // The view may have selected it already, without telling us.
        focused->setSelected(true);
        ListView1SelectItem();
    }
}

void TEditBookmark::moveSelected(int step) {
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty())
        return;
    QTreeWidgetItem* row = selected.front();
    int from = ListView1->indexOfTopLevelItem(row);
    int to = from + step;
    if (to < 0 || to >= ListView1->topLevelItemCount())
        return;
    ListView1->takeTopLevelItem(from);
    ListView1->insertTopLevelItem(to, row);
    ListView1->setCurrentItem(row);
    row->setSelected(true);
}

void TEditBookmark::Button5Click() {
    moveSelected(-1);
}

void TEditBookmark::Button6Click() {
    moveSelected(+1);
}

void TEditBookmark::PopupMenu2Popup() {
    bool any = !ListView1->selectedItems().isEmpty();
    Edit1->setEnabled(any);
    Remove1->setEnabled(any);
}

void TEditBookmark::Button1Click() {
    bookmarks_.records.clear();
    for (int p = 0; p < ListView1->topLevelItemCount(); ++p) {
        const QTreeWidgetItem* row = ListView1->topLevelItem(p);
        HashString record;
        record.Set("Title", bytesOf(row, TitleRole));
        record.Set("Type", bytesOf(row, TypeRole));
        record.Set("Path", bytesOf(row, PathRole));
        record.Set("ID", std::to_string(p + 1));
        bookmarks_.records.push_back(record.GetText());
    }
    accept();
}

void TEditBookmark::Button2Click() {
    reject();
}
