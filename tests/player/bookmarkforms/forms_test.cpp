#include "platform/commatext.h"
#include "player/bookmarkforms/Bookmarkqt.h"
#include "player/bookmarkforms/Editbookmarkform.h"
#include "player/bookmarkforms/Edittitleform.h"
#include "player/bookmarks/Hashstring.h"
#include "player/config/Tool.h"
#include "tests/support/Files.h"
#include "tests/support/Windows.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDropEvent>
#include <QFileDialog>
#include <QFontInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using zarntest::whenModal;

// The widgets of every case need the application first.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override { zarntest::App(); }
};

[[maybe_unused]] auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

std::string recordText(const std::string& id, const std::string& title, const std::string& type,
                       const std::string& path) {
    HashString r;
    r.Set("ID", id);
    r.Set("Title", title);
    r.Set("Type", type);
    r.Set("Path", path);
    return r.GetText();
}

std::string titleOf(QTreeWidgetItem* row) {
    return row->data(0, TEditBookmark::TitleRole).toByteArray().toStdString();
}
std::string typeOf(QTreeWidgetItem* row) {
    return row->data(0, TEditBookmark::TypeRole).toByteArray().toStdString();
}
std::string pathOf(QTreeWidgetItem* row) {
    return row->data(0, TEditBookmark::PathRole).toByteArray().toStdString();
}

// --- the title dialog -------------------------------------------------------

TEST(EditTitle, LooksAsItShould) {
    TEditTitle dialog;
    EXPECT_EQ(dialog.windowTitle(), "Edit Bookmark Title - zarnplayer ver 0.3.5");
    EXPECT_EQ(dialog.size(), QSize(334, 65));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_EQ(dialog.Button1->text(), "&OK");
    EXPECT_TRUE(dialog.Button1->isDefault());
    EXPECT_EQ(dialog.Button2->text(), "&Close");
    EXPECT_EQ(dialog.Button3->text(), "&Auto");
    EXPECT_EQ(dialog.findChild<QLineEdit*>("Edit1"), dialog.Edit1);
}

TEST(EditTitle, AutoProposesTheFirstNameAndOkReturnsTheEdit) {
    TEditTitle dialog;
    whenModal<TEditTitle>([](TEditTitle* d) {
        EXPECT_EQ(d->Edit1->text(), "old");
        QTest::mouseClick(d->Button3, Qt::LeftButton);
        EXPECT_EQ(d->Edit1->text(), "/music/a b.mp3");
        QTest::mouseClick(d->Button1, Qt::LeftButton);
    });
    std::string title = "old";
    EXPECT_TRUE(dialog.ShowTitleDialog(title, {"/music/a b.mp3", "/music/c.mp3"}));
    EXPECT_EQ(title, "/music/a b.mp3");
}

TEST(EditTitle, EnterAcceptsTheTypedTitle) {
    TEditTitle dialog;
    whenModal<TEditTitle>([](TEditTitle* d) {
        d->Edit1->selectAll();
        QTest::keyClicks(d->Edit1, "New name");
        QTest::keyClick(d->Edit1, Qt::Key_Return);
    });
    std::string title = "old";
    EXPECT_TRUE(dialog.ShowTitleDialog(title, {}));
    EXPECT_EQ(title, "New name");
}

TEST(EditTitle, CloseEscAndAutoWithoutNamesChangeNothing) {
    TEditTitle dialog;
    std::string title = "kept";
    whenModal<TEditTitle>([](TEditTitle* d) {
        QTest::mouseClick(d->Button3, Qt::LeftButton);
        EXPECT_EQ(d->Edit1->text(), "kept");
        d->Edit1->setText("changed");
        QTest::mouseClick(d->Button2, Qt::LeftButton);
    });
    EXPECT_FALSE(dialog.ShowTitleDialog(title, {}));
    EXPECT_EQ(title, "kept");

    // An accepted showing does not leak into the next one.
    whenModal<TEditTitle>([](TEditTitle* d) { QTest::mouseClick(d->Button1, Qt::LeftButton); });
    EXPECT_TRUE(dialog.ShowTitleDialog(title, {}));
    whenModal<TEditTitle>([](TEditTitle* d) {
        d->Edit1->setText("changed");
        QTest::keyClick(d, Qt::Key_Escape);
    });
    EXPECT_FALSE(dialog.ShowTitleDialog(title, {}));
    EXPECT_EQ(title, "kept");
}

// --- the bookmark editor ----------------------------------------------------

// Tab goes round the title field and the buttons in reading order.
TEST(EditTitle, TabGoesRoundInReadingOrder) {
    TEditTitle dialog;
    const std::vector<std::string> faults = zarntest::TabOrderFaults(&dialog);
    EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
    EXPECT_EQ(zarntest::TabChain(&dialog).size(), 4u);
}

class EditBookmark : public zarntest::FolderTest {
protected:
    void TearDown() override { SettingsStore().SetFolderBrowser(nullptr); }

    std::string touch(const std::string& name) {
        std::string path = dir + "/" + name;
        std::ofstream(path) << "x";
        return path;
    }
    std::string folder(const std::string& name) {
        std::string path = dir + "/" + name;
        fs::create_directories(path);
        return path;
    }
    void withRows(std::initializer_list<const char*> titles) {
        int id = 1;
        for (const char* t : titles)
            b.records.push_back(
                recordText(std::to_string(id++), t, "Directory", "/d/" + std::string(t)));
    }
    static std::vector<std::string> titles(TEditBookmark& d) {
        std::vector<std::string> out;
        for (int i = 0; i < d.ListView1->topLevelItemCount(); ++i)
            out.push_back(titleOf(d.ListView1->topLevelItem(i)));
        return out;
    }
    static void select(TEditBookmark& d, int row) {
        d.ListView1->setCurrentItem(d.ListView1->topLevelItem(row));
    }
    static void drop(TEditBookmark& d, const std::vector<std::string>& names) {
        QList<QUrl> urls;
        for (const auto& n : names)
            urls << QUrl::fromLocalFile(QString::fromStdString(n));
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(d.ListView1->viewport(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(d.ListView1->viewport(), &dropped);
        EXPECT_TRUE(dropped.isAccepted());
    }

    TBookmarks b;
    using Titles = std::vector<std::string>;
};

TEST_F(EditBookmark, ShowsEveryBookmarkInOrder) {
    b.records.push_back(recordText("1", "Lectures", "Directory", "/audio/lectures"));
    b.records.push_back("");
    b.records.push_back(recordText("2", "Two", "Files", CommaText({"/m/a b.mp3", "/m/c.mp3"})));
    TEditBookmark d(nullptr, b);
    EXPECT_EQ(d.windowTitle(), "Edit Bookmark - zarnplayer ver 0.3.5");
    EXPECT_EQ(d.size(), QSize(372, 212));
    EXPECT_EQ(d.minimumSize(), d.maximumSize());
    EXPECT_EQ(d.findChild<QTreeWidget*>("ListView1"), d.ListView1);
    EXPECT_EQ(d.findChild<QPlainTextEdit*>("Memo1"), d.Memo1);
    EXPECT_TRUE(d.Button1->isDefault());
    EXPECT_EQ(d.Button7->text(), "&Add");
    EXPECT_EQ(d.Button5->text(), "&UP");
    EXPECT_EQ(d.Button6->text(), "&DOWN");
    ASSERT_EQ(d.ListView1->topLevelItemCount(), 3);
    EXPECT_EQ(d.ListView1->topLevelItem(0)->text(0), "Lectures");
    EXPECT_EQ(typeOf(d.ListView1->topLevelItem(0)), "Directory");
    EXPECT_EQ(pathOf(d.ListView1->topLevelItem(0)), "/audio/lectures");
    EXPECT_EQ(titleOf(d.ListView1->topLevelItem(1)), "");
    EXPECT_EQ(typeOf(d.ListView1->topLevelItem(2)), "Files");
    EXPECT_LT(d.ListView1->columnWidth(0), d.ListView1->width());
}

// The editor by keys: Tab goes from the list along the buttons beside it, then
// the files box and OK and Close below; every item of its menus has a
// mnemonic of its own.
TEST_F(EditBookmark, TabOrderAndMenuKeys) {
    withRows({"one", "two"});
    TEditBookmark d(nullptr, b);
    const std::vector<std::string> faults = zarntest::TabOrderFaults(&d);
    EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
    const std::vector<QWidget*> chain = zarntest::TabChain(&d);
    EXPECT_EQ(chain.size(), 9u);
    select(d, 0);
    const std::vector<std::string> menus = zarntest::MenuKeyFaults(&d);
    EXPECT_TRUE(menus.empty()) << testing::PrintToString(menus);

    // Space on Add opens its menu below the button, wherever the pointer is.
    QCursor::setPos(d.mapToGlobal(QPoint(4, 150)));
    d.Button7->setFocus(Qt::TabFocusReason);
    QTest::keyClick(d.Button7, Qt::Key_Space);
    QMenu* add = d.findChild<QMenu*>("PopupMenu1");
    ASSERT_TRUE(add->isVisible());
    EXPECT_EQ(add->pos(), d.Button7->mapToGlobal(QPoint(0, d.Button7->height())));
    add->close();
}

TEST_F(EditBookmark, MemoShowsOneLinePerPathEvenWithBlanks) {
    b.records.push_back(recordText("1", "F", "Files", CommaText({"/m/a b.mp3", "/m/c.mp3"})));
    b.records.push_back(recordText("2", "D", "Directory", "/audio/my lectures, old"));
    TEditBookmark d(nullptr, b);
    select(d, 0);
    EXPECT_EQ(d.Memo1->toPlainText(), "/m/a b.mp3\n/m/c.mp3");
    select(d, 1);
    EXPECT_EQ(d.Memo1->toPlainText(), "/audio/my lectures, old");
}

TEST_F(EditBookmark, FirstUpAndLastDownDoNothing) {
    withRows({"A", "B", "C"});
    TEditBookmark d(nullptr, b);
    select(d, 0);
    QTest::mouseClick(d.Button5, Qt::LeftButton);
    EXPECT_EQ(titles(d), (Titles{"A", "B", "C"}));
    select(d, 2);
    QTest::mouseClick(d.Button6, Qt::LeftButton);
    EXPECT_EQ(titles(d), (Titles{"A", "B", "C"}));
    // Without a selection neither moves anything.
    d.ListView1->clearSelection();
    QTest::mouseClick(d.Button5, Qt::LeftButton);
    QTest::mouseClick(d.Button6, Qt::LeftButton);
    EXPECT_EQ(titles(d), (Titles{"A", "B", "C"}));
}

TEST_F(EditBookmark, UpAndDownMoveTheSelectedRowWhichStaysSelected) {
    withRows({"A", "B", "C"});
    TEditBookmark d(nullptr, b);
    select(d, 2);
    QTest::mouseClick(d.Button5, Qt::LeftButton);
    EXPECT_EQ(titles(d), (Titles{"A", "C", "B"}));
    QTest::mouseClick(d.Button5, Qt::LeftButton);
    EXPECT_EQ(titles(d), (Titles{"C", "A", "B"}));
    ASSERT_EQ(d.ListView1->selectedItems().size(), 1);
    EXPECT_EQ(titleOf(d.ListView1->selectedItems().front()), "C");
    QTest::mouseClick(d.Button6, Qt::LeftButton);
    EXPECT_EQ(titles(d), (Titles{"A", "C", "B"}));
    EXPECT_EQ(d.Memo1->toPlainText(), "/d/C");
}

TEST_F(EditBookmark, RemoveThenMoveMovesExactlyThatRow) {
    withRows({"A", "B", "C", "D"});
    TEditBookmark d(nullptr, b);
    select(d, 1);
    QTest::mouseClick(d.Button4, Qt::LeftButton);
    EXPECT_EQ(titles(d), (Titles{"A", "C", "D"}));
    // The row that takes the focus is selected and shown.
    ASSERT_EQ(d.ListView1->selectedItems().size(), 1);
    EXPECT_EQ(d.Memo1->toPlainText().toStdString(), pathOf(d.ListView1->selectedItems().front()));
    select(d, 2);
    QTest::mouseClick(d.Button5, Qt::LeftButton);
    EXPECT_EQ(titles(d), (Titles{"A", "D", "C"}));
    select(d, 0);
    QTest::mouseClick(d.Button6, Qt::LeftButton);
    EXPECT_EQ(titles(d), (Titles{"D", "A", "C"}));
}

TEST_F(EditBookmark, DeleteKeyRemovesAndNoSelectionRemovesNothing) {
    withRows({"A", "B"});
    TEditBookmark d(nullptr, b);
    d.ListView1->clearSelection();
    QTest::mouseClick(d.Button4, Qt::LeftButton);
    EXPECT_EQ(titles(d), (Titles{"A", "B"}));
    select(d, 0);
    QTest::keyClick(d.ListView1, Qt::Key_Delete);
    EXPECT_EQ(titles(d), (Titles{"B"}));
}

TEST_F(EditBookmark, RowsAddedAfterRemovalsGoLast) {
    withRows({"A", "B", "C"});
    TEditBookmark d(nullptr, b);
    select(d, 0);
    QTest::mouseClick(d.Button4, Qt::LeftButton);
    select(d, 0);
    QTest::mouseClick(d.Button4, Qt::LeftButton);
    std::string f = folder("new");
    drop(d, {f});
    std::string g = folder("newer");
    drop(d, {g});
    EXPECT_EQ(titles(d), (Titles{"C", f, g}));
}

TEST_F(EditBookmark, TwoFoldersAndThreeFilesDroppedGiveThreeRows) {
    withRows({"A"});
    TEditBookmark d(nullptr, b);
    std::string f1 = touch("one.mp3");
    std::string d1 = folder("first folder");
    std::string f2 = touch("two words.wav");
    std::string d2 = folder("second");
    std::string f3 = touch("three,comma.mp3");
    drop(d, {f1, d1, f2, d2, f3});
    ASSERT_EQ(d.ListView1->topLevelItemCount(), 4);
    EXPECT_EQ(titles(d), (Titles{"A", d1, d2, f1}));
    EXPECT_EQ(typeOf(d.ListView1->topLevelItem(1)), "Directory");
    EXPECT_EQ(pathOf(d.ListView1->topLevelItem(1)), d1);
    QTreeWidgetItem* files = d.ListView1->topLevelItem(3);
    EXPECT_EQ(typeOf(files), "Files");
    EXPECT_EQ(ReadCommaText(pathOf(files)), (std::vector<std::string>{f1, f2, f3}));
    select(d, 3);
    EXPECT_EQ(d.Memo1->toPlainText().toStdString(), f1 + "\n" + f2 + "\n" + f3);
}

TEST_F(EditBookmark, OkRenumbersInDisplayOrderWithTitleTypePathId) {
    b.records.push_back(recordText("7", "A", "Directory", "/a"));
    b.records.push_back(recordText("3", "B", "Files", CommaText({"/b 1.mp3", "/b2.mp3"})));
    b.records.push_back(recordText("9", "C", "Directory", "/c"));
    TEditBookmark d(nullptr, b);
    select(d, 2);
    QTest::mouseClick(d.Button5, Qt::LeftButton);
    QTest::mouseClick(d.Button1, Qt::LeftButton);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    ASSERT_EQ(b.records.size(), 3u);
    HashString r;
    r.SetText(b.records[0]);
    EXPECT_EQ(r.GetText(), "Title = \"A\",Type = \"Directory\",Path = \"%2Fa\",ID = \"1\"");
    r.SetText(b.records[1]);
    EXPECT_EQ(r.Get("Title"), "C");
    EXPECT_EQ(r.Get("ID"), "2");
    r.SetText(b.records[2]);
    EXPECT_EQ(r.Get("Title"), "B");
    EXPECT_EQ(r.Get("ID"), "3");
    EXPECT_EQ(ReadCommaText(r.Get("Path")), (std::vector<std::string>{"/b 1.mp3", "/b2.mp3"}));
    EXPECT_EQ(b.NextId(), 4);
}

TEST_F(EditBookmark, OkWithAnEmptyListLeavesNoBookmarks) {
    withRows({"A", "B"});
    TEditBookmark d(nullptr, b);
    select(d, 0);
    QTest::mouseClick(d.Button4, Qt::LeftButton);
    select(d, 0);
    QTest::mouseClick(d.Button4, Qt::LeftButton);
    EXPECT_EQ(d.ListView1->topLevelItemCount(), 0);
    QTest::mouseClick(d.Button1, Qt::LeftButton);
    EXPECT_TRUE(b.records.empty());
    QMenu menu;
    menu.addAction("Edit Bookmark");
    EXPECT_TRUE(FillBookmarkMenu(&menu, b).isEmpty());
    EXPECT_EQ(menu.actions().size(), 1);
}

TEST_F(EditBookmark, CloseDiscardsEveryChange) {
    withRows({"A", "B"});
    std::vector<std::string> before = b.records;
    TEditBookmark d(nullptr, b);
    select(d, 0);
    QTest::mouseClick(d.Button4, Qt::LeftButton);
    drop(d, {folder("x")});
    QTest::mouseClick(d.Button2, Qt::LeftButton);
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(b.records, before);
}

TEST_F(EditBookmark, EditRenamesOnlyTheTitle) {
    b.records.push_back(recordText("1", "Old", "Directory", "/audio/my lectures"));
    TEditBookmark d(nullptr, b);
    d.ListView1->clearSelection();
    bool seen = false;
    QTimer* watch = whenModal<TEditTitle>([](TEditTitle* t) { t->reject(); }, &seen);
    QTest::mouseClick(d.Button3, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(seen) << "Edit without a selection must not ask";
    delete watch;

    select(d, 0);
    whenModal<TEditTitle>([](TEditTitle* t) {
        EXPECT_EQ(t->Edit1->text(), "Old");
        // A folder with blanks is one name for Auto.
        QTest::mouseClick(t->Button3, Qt::LeftButton);
        EXPECT_EQ(t->Edit1->text(), "/audio/my lectures");
        t->Edit1->setText("New");
        QTest::mouseClick(t->Button1, Qt::LeftButton);
    });
    QTest::mouseClick(d.Button3, Qt::LeftButton);
    QTreeWidgetItem* row = d.ListView1->topLevelItem(0);
    EXPECT_EQ(row->text(0), "New");
    EXPECT_EQ(typeOf(row), "Directory");
    EXPECT_EQ(pathOf(row), "/audio/my lectures");

    whenModal<TEditTitle>([](TEditTitle* t) {
        t->Edit1->setText("Discarded");
        QTest::mouseClick(t->Button2, Qt::LeftButton);
    });
    QTest::mouseClick(d.Button3, Qt::LeftButton);
    EXPECT_EQ(row->text(0), "New");
}

TEST_F(EditBookmark, ContextMenuEnablesEditAndRemoveOnlyWithASelection) {
    withRows({"A"});
    TEditBookmark d(nullptr, b);
    d.ListView1->clearSelection();
    d.PopupMenu2Popup();
    EXPECT_FALSE(d.Edit1->isEnabled());
    EXPECT_FALSE(d.Remove1->isEnabled());
    select(d, 0);
    d.PopupMenu2Popup();
    EXPECT_TRUE(d.Edit1->isEnabled());
    EXPECT_TRUE(d.Remove1->isEnabled());
    d.Remove1->trigger();
    EXPECT_EQ(d.ListView1->topLevelItemCount(), 0);
}

TEST_F(EditBookmark, AddDirectoryAsksForATitle) {
    TEditBookmark d(nullptr, b);
    std::string chosen = folder("with blank");
    SettingsStore().SetFolderBrowser(
        [&](void*, const std::string&) -> std::optional<std::string> { return chosen; });
    whenModal<TEditTitle>([](TEditTitle* t) {
        t->Edit1->setText("Talks");
        QTest::mouseClick(t->Button1, Qt::LeftButton);
    });
    d.AddDirectory2->trigger();
    ASSERT_EQ(d.ListView1->topLevelItemCount(), 1);
    EXPECT_EQ(titleOf(d.ListView1->topLevelItem(0)), "Talks");
    EXPECT_EQ(typeOf(d.ListView1->topLevelItem(0)), "Directory");
    EXPECT_EQ(pathOf(d.ListView1->topLevelItem(0)), chosen);

    // A cancelled title dialog adds nothing, and so does a cancelled browser.
    whenModal<TEditTitle>([](TEditTitle* t) { QTest::mouseClick(t->Button2, Qt::LeftButton); });
    d.AddDirectory1->trigger();
    SettingsStore().SetFolderBrowser(
        [](void*, const std::string&) -> std::optional<std::string> { return std::nullopt; });
    d.AddDirectory1->trigger();
    EXPECT_EQ(d.ListView1->topLevelItemCount(), 1);
}

TEST_F(EditBookmark, AddFilesTakesTheChosenFilesAndOffersTheFirst) {
    std::string a = touch("a b.mp3");
    std::string c = touch("c.mp3");
    TEditBookmark d(nullptr, b);
    d.OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    d.OpenDialog1->setDirectory(QString::fromStdString(dir));
    whenModal<QFileDialog>([](QFileDialog* f) {
        EXPECT_EQ(f->fileMode(), QFileDialog::ExistingFiles);
        EXPECT_FALSE(f->nameFilters().isEmpty());
        // Typed as a user would: selectFile leaves a focused name field alone.
        auto* name = f->findChild<QLineEdit*>("fileNameEdit");
        if (!name) {
            ADD_FAILURE() << "the file dialog has no name field";
            QMetaObject::invokeMethod(f, "reject");
            return;
        }
        name->setText("\"a b.mp3\" \"c.mp3\"");
        QMetaObject::invokeMethod(f, "accept");
        whenModal<TEditTitle>([](TEditTitle* t) { QTest::mouseClick(t->Button1, Qt::LeftButton); });
    });
    d.AddFiles1->trigger();
    ASSERT_EQ(d.ListView1->topLevelItemCount(), 1);
    QTreeWidgetItem* row = d.ListView1->topLevelItem(0);
    EXPECT_EQ(typeOf(row), "Files");
    EXPECT_EQ(titleOf(row), a);
    EXPECT_EQ(ReadCommaText(pathOf(row)), (std::vector<std::string>{a, c}));
    select(d, 0);
    EXPECT_EQ(d.Memo1->toPlainText().toStdString(), a + "\n" + c);
}

// --- the Bookmark menu and the save report -----------------------------------

TEST(BookmarkMenu, RefillReplacesOnlyBookmarkItems) {
    TBookmarks b;
    b.AddDirectory("Lectures", "/l");
    b.AddFiles("Songs & more", {"/s.mp3"});
    QMenu menu;
    QAction* fixed = menu.addAction("Edit Bookmark");
    QList<QAction*> items = FillBookmarkMenu(&menu, b);
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), "&0:Lectures");
    EXPECT_EQ(BookmarkTag(items[0]), 1);
    EXPECT_EQ(items[1]->text(), "&1:Songs & more");
    EXPECT_EQ(BookmarkTag(items[1]), 2);
    EXPECT_EQ(BookmarkTag(fixed), 0);

    // An ID that reads as 0 gives tag 0 and must still go on the next refill.
    b.records.clear();
    b.records.push_back(recordText("0", "Zero", "Directory", "/z"));
    items = FillBookmarkMenu(&menu, b);
    items = FillBookmarkMenu(&menu, b);
    ASSERT_EQ(menu.actions().size(), 2);
    EXPECT_EQ(menu.actions()[0], fixed);
    EXPECT_EQ(menu.actions()[1]->text(), "&0:Zero");
}

TEST(BookmarkSave, FailureIsShownInAMessageBox) {
    TBookmarks b;
    b.Load("/nonexistent-zarn-folder/bookmark.txt");
    QWidget owner;
    owner.show();
    bool seen = false;
    whenModal<QMessageBox>(
        [](QMessageBox* box) {
            EXPECT_TRUE(box->text().contains("not be saved"));
            box->accept();
        },
        &seen);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(SaveBookmarks(&owner, b));
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    EXPECT_TRUE(seen);
}

} // namespace

// --- what a screen reader finds -------------------------------------------

TEST_F(EditBookmark, EveryFieldOfBothDialogsHasAName) {
    withRows({"Lectures", "Talks"});
    TEditBookmark d(nullptr, b);
    d.show();
    select(d, 0);
    const std::vector<std::string> none;
    EXPECT_EQ(zarntest::UnnamedFocusable(d), none);
    TEditTitle title;
    title.show();
    EXPECT_EQ(zarntest::UnnamedFocusable(title), none);
}

TEST(EditTitle, GrowsWithALargerDesktopFont) {
    const QFont desktop = QApplication::font();
    QFont large = desktop;
    large.setPixelSize(24);
    QApplication::setFont(large);
    {
        TEditTitle dialog;
        EXPECT_EQ(dialog.size(), QSize(668, 130));
        EXPECT_EQ(dialog.Edit1->geometry(), QRect(16, 16, 634, 40));
        EXPECT_EQ(QFontInfo(dialog.font()).pixelSize(), 24);
    }
    QApplication::setFont(desktop);
}
