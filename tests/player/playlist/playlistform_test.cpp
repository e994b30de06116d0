// The play list window on the offscreen platform: real mouse and key events
// on the real widgets, the real model behind it and a recording engine
// behind the main window.
#include "tests/player/list/HeldReader.h"
#include "tests/support/FakePlayer.h"
#include "tests/support/Files.h"
#include "tests/support/Windows.h"

#include "player/config/Option.h"
#include "player/config/Tool.h"
#include "player/config/WindowColours.h"
#include "player/list/Filelist.h"
#include "player/mainform/Mainform.h"
#include "player/playlist/Playlistform.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using zarntest::App;
using zarntest::ReadAll;
using zarntest::whenModal;

// Types names into a file dialog's name field, as a user would, and accepts.
void TypeAndAccept(QFileDialog* f, const std::string& folder, const QString& text) {
    f->setDirectory(QString::fromStdString(folder));
    auto* name = f->findChild<QLineEdit*>("fileNameEdit");
    if (!name) {
        ADD_FAILURE() << "the file dialog has no name field";
        QMetaObject::invokeMethod(f, "reject");
        return;
    }
    name->setText(text);
    QMetaObject::invokeMethod(f, "accept");
}

class PlayListWindow : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        dir = zarntest::MakeTempDir("playlistform");
        SettingsStore().SetFileName(dir + "/zarnplayer.ini");
        Options() = TOptions{};
        ClosingFlag = false;
        list = std::make_unique<TFileList>();
        window = std::make_unique<TPlayList>(*list);
        list->SetView(window.get());
        core = std::make_unique<TPlayerCore>(*list);
        main = std::make_unique<TMain>(*core, *list, window.get());
        main->SetListFocusQuery([this] { return window->ListHasFocus(); });
        window->SetPlayerCore(core.get());
        TFileList::Hooks hooks;
        hooks.UpdatePrevNext = [this] { core->ListChanged(); };
        hooks.ProcessPendingEvents = [] { QCoreApplication::processEvents(); };
        list->SetHooks(std::move(hooks));
        core->SetPlayer(&player);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        list->StopAnalysis();
        list->SetHooks({});
        core->SetPlayer(nullptr);
        main.reset();
        core.reset();
        window.reset();
        list.reset();
        std::filesystem::remove_all(dir);
    }

    std::string Media(const std::string& name, const std::string& content = "x") {
        const std::string path = dir + "/" + name;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    // Entries e0.mp3 ... e<n-1>.mp3, added as one batch.
    void Fill(int n) {
        list->BeginUpdate();
        for (int i = 0; i < n; ++i)
            list->Add(Media("e" + std::to_string(i) + ".mp3"));
        list->EndUpdate();
    }
    // The list's order as the numbers of the entries Fill made.
    std::vector<int> Order() const {
        std::vector<int> out;
        for (int i = 0; i < list->Count(); ++i) {
            const std::string name(FileNamePart(list->Item(i)->FileName));
            out.push_back(std::stoi(name.substr(1)));
        }
        return out;
    }
    // Every row shows and links to the entry at its position.
    void ExpectRowsMatch() const {
        ASSERT_EQ(window->ListView1->topLevelItemCount(), list->Count());
        for (int i = 0; i < list->Count(); ++i) {
            TFile* entry = list->Item(i);
            EXPECT_EQ(window->RowEntry(i), entry) << "row " << i;
            EXPECT_EQ(window->ListView1->topLevelItem(i)->text(0).toStdString(), entry->Title);
            EXPECT_EQ(window->RowImage(i), entry == list->Current() ? 1 : 0) << "row " << i;
        }
    }

    QWidget* Viewport() const { return window->ListView1->viewport(); }
    QPoint RowCenter(int row) const {
        return window->ListView1->visualItemRect(window->ListView1->topLevelItem(row)).center();
    }
    // Clicks the first row, Ctrl-clicks the others.
    void ClickRows(const std::vector<int>& rows) {
        for (size_t i = 0; i < rows.size(); ++i)
            QTest::mouseClick(Viewport(), Qt::LeftButton,
                              i == 0 ? Qt::NoModifier : Qt::ControlModifier, RowCenter(rows[i]));
    }
    // Selects rows with the mouse, then drags them from the first of them
    // to the point, in small steps as a hand would.
    void DragRows(const std::vector<int>& rows, QPoint to) {
        ClickRows(rows);
        ASSERT_EQ(window->SelectedRows(), rows);
        const QPoint from = RowCenter(rows.front());
        QTest::mousePress(Viewport(), Qt::LeftButton, Qt::NoModifier, from);
        const int steps = 6;
        for (int i = 1; i <= steps; ++i) {
            QTest::mouseMove(Viewport(), from + (to - from) * i / steps);
            if (i == steps) {
                EXPECT_TRUE(window->ListView1->Dragging()) << "the drag did not start";
            }
        }
        QTest::mouseRelease(Viewport(), Qt::LeftButton, Qt::NoModifier, to);
        EXPECT_FALSE(window->ListView1->Dragging());
    }
    // The rows that show the given entries (by their Fill numbers).
    std::vector<int> RowsOf(const std::vector<int>& numbers) const {
        std::vector<int> rows;
        const std::vector<int> order = Order();
        for (int n : numbers)
            rows.push_back(
                static_cast<int>(std::find(order.begin(), order.end(), n) - order.begin()));
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    QAction* Action(QMenu* menu, const char* name) {
        for (QAction* a : menu->actions())
            if (a->objectName() == QLatin1String(name))
                return a;
        ADD_FAILURE() << "no menu item " << name;
        return nullptr;
    }

    std::string dir;
    FakePlayer player;
    std::unique_ptr<TFileList> list;
    std::unique_ptr<TPlayList> window;
    std::unique_ptr<TPlayerCore> core;
    std::unique_ptr<TMain> main;
};

// --- The window as it is built ---------------------------------------------

TEST_F(PlayListWindow, CaptionControlsAndColumns) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("PlayList - zarnplayer ver 0.3.5"));
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);

    // The tool bar: buttons and separators in their order.
    std::vector<std::string> bar;
    for (QAction* a : window->ToolBar1->actions()) {
        if (a->isSeparator())
            bar.push_back("|");
        else if (QWidget* w = window->ToolBar1->widgetForAction(a))
            bar.push_back(w->objectName().toStdString());
    }
    EXPECT_EQ(bar, (std::vector<std::string>{"ToolButton1", "ToolButton2", "|", "ToolButton3",
                                             "ToolButton6", "ToolButton7", "|", "ToolButton9",
                                             "ToolButton10", "ToolButton11", "ToolButton12", "|"}));
    for (QToolButton* b : {window->ToolButton1, window->ToolButton6, window->ToolButton12})
        EXPECT_FALSE(b->icon().pixmap(16, 16).isNull()) << b->objectName().toStdString();
    EXPECT_EQ(window->ToolButton9->menu(), window->PopupMenu2);
    EXPECT_EQ(window->ToolButton10->menu(), window->PopupMenu3);

    auto texts = [](QMenu* m) {
        std::vector<std::string> out;
        for (QAction* a : m->actions())
            out.push_back(a->isSeparator() ? "|" : a->text().toStdString());
        return out;
    };
    EXPECT_EQ(texts(window->PopupMenu1),
              (std::vector<std::string>{"&Play", "|", "&Add Files...", "&Remove Files", "|",
                                        "&Select All"}));
    EXPECT_EQ(texts(window->PopupMenu2),
              (std::vector<std::string>{"&Selected Files", "&Unselected Files", "&All Files"}));
    EXPECT_EQ(
        texts(window->PopupMenu3),
        (std::vector<std::string>{"&Sort by FileName", "|", "S&huffle List", "&Reverse List"}));

    QTreeWidget* view = window->ListView1;
    EXPECT_EQ(view->headerItem()->text(0), QStringLiteral("File"));
    EXPECT_EQ(view->headerItem()->text(1), QStringLiteral("Time"));
    EXPECT_EQ(view->columnWidth(1), 0);
    EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_FALSE(view->header()->sectionsClickable());

    // The File column follows the window's width.
    const int scrollBar = window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view);
    for (int width : {420, 260}) {
        window->resize(width, 300);
        QCoreApplication::processEvents();
        EXPECT_EQ(view->columnWidth(0), view->width() - scrollBar - 4) << width;
    }

    // Closing only hides; the rows stay.
    Fill(2);
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(view->topLevelItemCount(), 2);
}

TEST_F(PlayListWindow, BoundsAreKeptInTheirSection) {
    window->move(40, 50);
    window->resize(300, 400);
    window->FormDestroy();
    EXPECT_EQ(SettingsStore().ReadInteger("playlistform", "Width", -1), 300);
    EXPECT_EQ(SettingsStore().ReadInteger("playlistform", "Height", -1), 400);

    TFileList other;
    {
        TPlayList again(other);
        EXPECT_EQ(again.size(), QSize(300, 400));
        EXPECT_EQ(again.pos(), window->pos());
        // Never shown: its bounds are not its own and are not kept.
        again.move(7, 8);
    }
    EXPECT_EQ(SettingsStore().ReadInteger("playlistform", "Left", -1), window->x());
}

// --- The model's rows ------------------------------------------------------

TEST_F(PlayListWindow, RowsFollowTheModelAndPanelsShowCountAndPath) {
    Fill(3);
    EXPECT_EQ(window->StatusPanel0->text(), QStringLiteral("3"));
    list->BeginUpdate();
    EXPECT_EQ(window->StatusPanel0->text(), QStringLiteral("----"));
    list->EndUpdate();
    ExpectRowsMatch();

    EXPECT_EQ(list->Select(1), list->Item(1)->FileName);
    ExpectRowsMatch(); // the marker on row 1 only
    list->Next();
    ExpectRowsMatch();

    ClickRows({0});
    EXPECT_EQ(window->StatusPanel1->text().toStdString(), list->Item(0)->FileName);
    ClickRows({2});
    EXPECT_EQ(window->StatusPanel1->text().toStdString(), list->Item(2)->FileName);

    // A removed row lets go of its entry; a sort relists, the marker moves
    // with its entry.
    TFile* current = list->Current();
    window->Reverse1Click();
    EXPECT_EQ(Order(), (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(list->Current(), current);
    ExpectRowsMatch();
    window->SortByFileName1Click();
    EXPECT_EQ(Order(), (std::vector<int>{0, 1, 2}));
    ExpectRowsMatch();
}

// --- Reordering by dragging ------------------------------------------------

TEST_F(PlayListWindow, DragDownOntoARowLandsAfterIt) {
    Fill(5);
    list->Select(1);
    DragRows({1, 3}, RowCenter(4));
    EXPECT_EQ(Order(), (std::vector<int>{0, 2, 4, 1, 3}));
    EXPECT_EQ(window->SelectedRows(), RowsOf({1, 3}));
    ExpectRowsMatch(); // and the marker stayed with entry 1
    EXPECT_EQ(window->RowImage(3), 1);
}

TEST_F(PlayListWindow, DragUpOntoARowLandsBeforeIt) {
    Fill(5);
    DragRows({3, 4}, RowCenter(1));
    EXPECT_EQ(Order(), (std::vector<int>{0, 3, 4, 1, 2}));
    EXPECT_EQ(window->SelectedRows(), RowsOf({3, 4}));
    ExpectRowsMatch();
}

TEST_F(PlayListWindow, DragBelowTheLastRowGoesToTheEnd) {
    Fill(5);
    const QRect last = window->ListView1->visualItemRect(window->ListView1->topLevelItem(4));
    ASSERT_LT(last.bottom() + 20, Viewport()->height());
    DragRows({1, 3}, QPoint(last.center().x(), last.bottom() + 15));
    EXPECT_EQ(Order(), (std::vector<int>{0, 2, 4, 1, 3}));
    EXPECT_EQ(window->SelectedRows(), (std::vector<int>{3, 4}));
    ExpectRowsMatch();
}

TEST_F(PlayListWindow, DragFromBothSidesOntoARowBetweenThem) {
    Fill(5);
    DragRows({1, 3}, RowCenter(2));
    EXPECT_EQ(Order(), (std::vector<int>{0, 2, 3, 1, 4}));
    EXPECT_EQ(window->SelectedRows(), RowsOf({1, 3}));
    ExpectRowsMatch();
}

// --- Reordering by keys ------------------------------------------------------

TEST_F(PlayListWindow, CtrlUpAndDownMoveTheSelectedRowsOnePlace) {
    Fill(5);
    list->Select(1);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->ListView1->setFocus();
    ClickRows({1, 3});
    QTest::keyClick(window->ListView1, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Order(), (std::vector<int>{1, 0, 3, 2, 4}));
    EXPECT_EQ(window->SelectedRows(), RowsOf({1, 3}));
    ExpectRowsMatch(); // the marker went with entry 1
    EXPECT_EQ(window->RowImage(0), 1);
    // At the top the first row stays; the other still moves.
    QTest::keyClick(window->ListView1, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Order(), (std::vector<int>{1, 3, 0, 2, 4}));
    QTest::keyClick(window->ListView1, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Order(), (std::vector<int>{1, 3, 0, 2, 4}));
    // Down moves the block whole.
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(window->ListView1, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Order(), (std::vector<int>{0, 2, 4, 1, 3}));
    EXPECT_EQ(window->SelectedRows(), (std::vector<int>{3, 4}));
    ExpectRowsMatch();
    // Without Ctrl the arrows only move within the list.
    QTest::keyClick(window->ListView1, Qt::Key_Up);
    EXPECT_EQ(Order(), (std::vector<int>{0, 2, 4, 1, 3}));
}

// --- What a screen reader hears of the rows -------------------------------------

TEST_F(PlayListWindow, RowsNameTheirTitleAndWhichOnePlays) {
    Fill(3);
    list->Select(1);
    QAbstractItemModel* model = window->ListView1->model();
    const auto spoken = [model](int row) {
        return model->index(row, 0).data(Qt::AccessibleTextRole).toString().toStdString();
    };
    EXPECT_EQ(spoken(0), list->Item(0)->Title);
    EXPECT_EQ(spoken(1), list->Item(1)->Title + ", playing");
    list->Select(2);
    EXPECT_EQ(spoken(1), list->Item(1)->Title);
    EXPECT_EQ(spoken(2), list->Item(2)->Title + ", playing");
    // A reorder keeps the words with the rows.
    window->Reverse1Click();
    EXPECT_EQ(spoken(0), list->Item(0)->Title + ", playing");
    // Nothing a screen reader can reach in the window is nameless.
    EXPECT_EQ(zarntest::UnnamedFocusable(*window), std::vector<std::string>{});
}

// The current entry's mark stands out from its row on the desktop's palette
// and on high contrast both ways round, the row selected or not.
TEST_F(PlayListWindow, CurrentRowMarkReadsOnEveryPalette) {
    Fill(3);
    list->Select(1);
    window->resize(320, 331);
    QTreeWidget* view = window->ListView1;
    QTreeWidgetItem* item = view->topLevelItem(1);
    const QRect row = view->visualItemRect(item);
    const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const QPoint mark(row.left() + margin + view->iconSize().width() / 2, row.center().y());
    const QPoint ground(row.left() + 1, row.center().y());
    const std::vector<std::pair<const char*, QPalette>> palettes = {
        {"desktop", QGuiApplication::palette()},
        {"high contrast", HighContrastPalette(false)},
        {"inverse high contrast", HighContrastPalette(true)}};
    for (const auto& [name, palette] : palettes) {
        zarntest::AppPalette applied(palette);
        for (bool selected : {false, true}) {
            item->setSelected(selected);
            QCoreApplication::processEvents();
            EXPECT_GE(zarntest::DrawnContrast(*view->viewport(), mark, ground), 3.0)
                << name << (selected ? ", selected" : "");
        }
    }
}

TEST_F(PlayListWindow, ClickWithoutDragOnASelectedRowSelectsOnlyIt) {
    Fill(4);
    ClickRows({0, 2});
    QTest::mouseClick(Viewport(), Qt::LeftButton, Qt::NoModifier, RowCenter(2));
    EXPECT_EQ(window->SelectedRows(), (std::vector<int>{2}));
    EXPECT_EQ(Order(), (std::vector<int>{0, 1, 2, 3}));

    // Escape ends a drag without a move.
    ClickRows({0});
    QTest::mousePress(Viewport(), Qt::LeftButton, Qt::NoModifier, RowCenter(0));
    QTest::mouseMove(Viewport(), RowCenter(2));
    ASSERT_TRUE(window->ListView1->Dragging());
    QTest::keyClick(window->ListView1, Qt::Key_Escape);
    QTest::mouseRelease(Viewport(), Qt::LeftButton, Qt::NoModifier, RowCenter(3));
    EXPECT_EQ(Order(), (std::vector<int>{0, 1, 2, 3}));
}

// --- Playing a row ---------------------------------------------------------

TEST_F(PlayListWindow, DoubleClickOrEnterPlaysTheSelectedRowAndNothingOnEmptySpace) {
    Fill(3);
    const QRect last = window->ListView1->visualItemRect(window->ListView1->topLevelItem(2));
    const QPoint empty(last.center().x(), last.bottom() + 30);
    QTest::mouseClick(Viewport(), Qt::LeftButton, Qt::NoModifier, empty);
    QTest::mouseDClick(Viewport(), Qt::LeftButton, Qt::NoModifier, empty);
    EXPECT_TRUE(player.calls.empty());
    EXPECT_EQ(list->Current(), nullptr);

    // A double click is a click, then the second press that doubles it.
    QTest::mouseClick(Viewport(), Qt::LeftButton, Qt::NoModifier, RowCenter(1));
    QTest::mouseDClick(Viewport(), Qt::LeftButton, Qt::NoModifier, RowCenter(1));
    EXPECT_EQ(list->Current(), list->Item(1));
    const std::string open = "Open(" + list->Item(1)->FileName + ")";
    ASSERT_TRUE(player.Has(open));
    const auto at = [&](const std::string& c) {
        return std::find(player.calls.begin(), player.calls.end(), c) - player.calls.begin();
    };
    EXPECT_LT(at("Close"), at("Stop")); // Close, then the open path's stop
    EXPECT_LT(at("Stop"), at(open));
    EXPECT_LT(at(open), at("Play"));
    EXPECT_EQ(window->RowImage(1), 1);

    // The tool bar's Play takes the first selected row; Open failing still
    // plays, as the engine expects.
    player.calls.clear();
    player.openResult = E_FAIL;
    ClickRows({2, 0});
    QTest::mouseClick(window->ToolButton6, Qt::LeftButton);
    EXPECT_EQ(list->Current(), list->Item(0));
    EXPECT_TRUE(player.Has("Open(" + list->Item(0)->FileName + ")"));
    EXPECT_TRUE(player.Has("Play"));

    // Enter in the list is the keyboard's double click.
    player.calls.clear();
    player.openResult = S_OK;
    ClickRows({2});
    QTest::keyClick(window->ListView1, Qt::Key_Return);
    EXPECT_EQ(list->Current(), list->Item(2));
    EXPECT_TRUE(player.Has("Open(" + list->Item(2)->FileName + ")"));
}

TEST_F(PlayListWindow, PrevAndNextGoThroughTheMainWindow) {
    Fill(3);
    QTest::mouseClick(window->ToolButton7, Qt::LeftButton);
    EXPECT_EQ(list->Current(), list->Item(0));
    EXPECT_TRUE(player.Has("Open(" + list->Item(0)->FileName + ")"));
    QTest::mouseClick(window->ToolButton3, Qt::LeftButton);
    EXPECT_EQ(list->Current(), list->Item(2));
}

// --- Removing --------------------------------------------------------------

TEST_F(PlayListWindow, RemoveSelectedUnselectedAndAll) {
    Fill(5);
    list->Select(1);
    ClickRows({1, 3});
    Action(window->PopupMenu2, "Unselected1")->trigger();
    EXPECT_EQ(Order(), (std::vector<int>{1, 3}));
    EXPECT_NE(list->Current(), nullptr);
    ExpectRowsMatch();
    EXPECT_TRUE(main->ToolButton2->isEnabled());

    ClickRows({0});
    QTest::mouseClick(window->ToolButton9, Qt::LeftButton); // the button part
    EXPECT_EQ(Order(), (std::vector<int>{3}));
    EXPECT_EQ(list->Current(), nullptr); // the current entry went
    EXPECT_FALSE(main->ToolButton2->isEnabled());
    ExpectRowsMatch();

    Fill(2);
    Action(window->PopupMenu2, "deleteall1")->trigger();
    EXPECT_EQ(list->Count(), 0);
    EXPECT_EQ(window->ListView1->topLevelItemCount(), 0);
    EXPECT_EQ(window->StatusPanel0->text(), QStringLiteral("0"));
}

TEST_F(PlayListWindow, RemovingSelectedRowsLeavesTheOneUnderAnalysis) {
    const std::string slow = Media("e1.mp3");
    HeldReader held(slow);
    list->SetTagReader(held.Reader());
    Options().AnalyzeFileInfo = 1;
    list->BeginUpdate();
    list->Add(Media("e0.mp3"));
    list->Add(slow); // the pass waits on it until the test lets it go
    list->Add(Media("e2.mp3"));
    list->EndUpdate();
    // The pass runs at idle priority: on a busy machine it may start late.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!list->Item(1)->Busy.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(list->Item(1)->Busy.load());

    window->activateWindow();
    window->ListView1->setFocus();
    QTest::keyClick(window->ListView1, Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(window->SelectedRows(), (std::vector<int>{0, 1, 2}));
    QTest::keyClick(window->ListView1, Qt::Key_Delete);
    ASSERT_EQ(list->Count(), 1);
    EXPECT_EQ(list->Item(0)->FileName, slow);
    ExpectRowsMatch();

    // All Files waits for the entry instead, the windows handling events
    // meanwhile: the reading is let go from the loop.
    QTimer::singleShot(50, [&held] { held.Release(); });
    Action(window->PopupMenu2, "deleteall1")->trigger();
    EXPECT_EQ(list->Count(), 0);
    EXPECT_EQ(window->ListView1->topLevelItemCount(), 0);
    held.Release();
    list->StopAnalysis();
    list->SetTagReader(nullptr);
}

// --- Keys ------------------------------------------------------------------

TEST_F(PlayListWindow, CtrlASelectsAllAndAAloneDoesNot) {
    Fill(4);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->ListView1->setFocus();
    ClickRows({1});
    QTest::keyClick(window->ListView1, Qt::Key_A);
    EXPECT_LE(window->SelectedRows().size(), 1u);
    QTest::keyClick(window->ListView1, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(window->SelectedRows(), (std::vector<int>{0, 1, 2, 3}));

    Action(window->PopupMenu1, "SelectAll1")->trigger();
    EXPECT_EQ(window->SelectedRows().size(), 4u);
}

TEST_F(PlayListWindow, KeysOutsideTheListGoToTheShortcutHandler) {
    Fill(2);
    std::vector<int> seen;
    window->SetShortcutHandler([&](int key) {
        seen.push_back(key);
        return key == Qt::Key_Space;
    });
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));

    window->ListView1->setFocus();
    ASSERT_TRUE(window->ListView1->hasFocus());
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_P, Qt::Key_F5})
        QTest::keyClick(window->ListView1, key);
    EXPECT_TRUE(seen.empty()) << "keys in the focused list are the list's";

    window->ListView1->clearFocus();
    window->setFocus();
    QTest::keyClick(window.get(), Qt::Key_Space);
    QTest::keyClick(window.get(), Qt::Key_P);
    EXPECT_EQ(seen, (std::vector<int>{Qt::Key_Space, Qt::Key_P}));
}

// Every command of the window by key: each menu item has a mnemonic of its
// own; Tab goes from the tool bar's buttons (reading order) to the list;
// Space presses a button tabbed to and the menu key opens a button's menu.
// The list has the focus when the window opens.
TEST_F(PlayListWindow, EveryCommandIsReachedFromTheKeyboard) {
    Fill(3);
    const std::vector<std::string> menus = zarntest::MenuKeyFaults(window.get());
    EXPECT_TRUE(menus.empty()) << testing::PrintToString(menus);

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(QApplication::focusWidget(), window->ListView1);
    const std::vector<std::string> faults = zarntest::TabOrderFaults(window.get());
    EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
    const std::vector<QWidget*> chain = zarntest::TabChain(window.get());
    for (QToolButton* b :
         {window->ToolButton2, window->ToolButton9, window->ToolButton10, window->ToolButton12})
        EXPECT_NE(std::find(chain.begin(), chain.end(), b), chain.end())
            << b->objectName().toStdString();

    // Reverse List by keys alone: to the Sort button, its menu, R.
    window->ToolButton10->setFocus(Qt::TabFocusReason);
    bool shown = false;
    QObject::connect(window->PopupMenu3, &QMenu::aboutToShow, window.get(), [&] {
        shown = true;
        QTimer::singleShot(0, [this] { QTest::keyClick(window->PopupMenu3, Qt::Key_R); });
    });
    // What the desktop's platform makes of the menu key, sent to the focus.
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(2, 2),
                              window->ToolButton10->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(QApplication::focusWidget(), &menuKey);
    EXPECT_TRUE(shown) << "the menu key opens the button's menu";
    EXPECT_EQ(Order(), (std::vector<int>{2, 1, 0}));

    // Space presses the button tabbed to: Sort by FileName.
    window->ToolButton10->setFocus(Qt::TabFocusReason);
    QTest::keyClick(window->ToolButton10, Qt::Key_Space);
    EXPECT_EQ(Order(), (std::vector<int>{0, 1, 2}));
}

// The main menu's keys while this window is the active one: in the list as
// well as outside it, as in the main window.
TEST_F(PlayListWindow, MainMenuKeysWorkFromThisWindow) {
    Fill(2);
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    player.state = PLAYER_PLAYING;
    player.calls.clear();

    window->ListView1->setFocus();
    QTest::keyClick(window->ListView1, Qt::Key_W);
    QTest::keyClick(window->ListView1, Qt::Key_S);
    window->ListView1->clearFocus();
    window->setFocus();
    QTest::keyClick(window.get(), Qt::Key_P);
    EXPECT_EQ(player.calls, (std::vector<std::string>{"Pause", "Stop", "Play"}));

    QTest::keyClick(window.get(), Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(core->RepeatMode, 2);
    QTest::keyClick(window.get(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(main->TimeMode, 1);
    QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(main->TimeReverse, 1);
    QTest::keyClick(window.get(), Qt::Key_I, Qt::ControlModifier);
    EXPECT_TRUE(main->Panel4->isHidden());
    QTest::keyClick(window.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(main->Panel1->isHidden());
    QTest::keyClick(window.get(), Qt::Key_F3);
    EXPECT_EQ(main->Zoom, 200);
    QTest::keyClick(window.get(), Qt::Key_T);
    EXPECT_EQ(main->StayOnTop, 1);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    // L hides this very window again.
    QTest::keyClick(window.get(), Qt::Key_L);
    EXPECT_FALSE(window->isVisible());
}

// --- Files from the desktop ------------------------------------------------

TEST_F(PlayListWindow, DroppedFolderAddsItsMediaFilesToTheList) {
    Fill(1);
    list->Select(0);
    const std::string folder = dir + "/drop";
    Media("drop/a.MP3");
    Media("drop/notes.txt");
    Media("drop/sub/b.wav");
    const std::string single = Media("single.txt");

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder)),
                  QUrl::fromLocalFile(QString::fromStdString(single))});
    const QPointF at = window->rect().center();
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);

    std::vector<std::string> names;
    for (int i = 0; i < list->Count(); ++i)
        names.push_back(list->Item(i)->FileName);
    EXPECT_EQ(names, (std::vector<std::string>{dir + "/e0.mp3", folder + "/a.MP3",
                                               folder + "/sub/b.wav", single}));
    EXPECT_EQ(list->Current(), list->Item(0)); // nothing cleared, nothing played
    EXPECT_TRUE(player.calls.empty());
    EXPECT_EQ(window->StatusPanel0->text(), QStringLiteral("4"));
    ExpectRowsMatch();
}

// --- Dialogs ---------------------------------------------------------------

TEST_F(PlayListWindow, AddFilesFromTheDialogWithoutPlaying) {
    Media("a.mp3");
    Media("b.wav");
    whenModal<QFileDialog>([this](QFileDialog* f) {
        EXPECT_EQ(f->fileMode(), QFileDialog::ExistingFiles);
        EXPECT_GE(f->nameFilters().size(), 2);
        TypeAndAccept(f, dir, "\"b.wav\" \"a.mp3\"");
    });
    QTest::mouseClick(window->ToolButton1, Qt::LeftButton);
    ASSERT_EQ(list->Count(), 2);
    EXPECT_EQ(list->Item(0)->FileName, dir + "/b.wav");
    EXPECT_EQ(list->Item(1)->FileName, dir + "/a.mp3");
    EXPECT_TRUE(player.calls.empty());

    // A cancelled dialog changes nothing.
    whenModal<QFileDialog>([](QFileDialog* f) { QMetaObject::invokeMethod(f, "reject"); });
    Action(window->PopupMenu1, "Add1")->trigger();
    EXPECT_EQ(list->Count(), 2);
}

TEST_F(PlayListWindow, AddFolderWalksTheChosenFolder) {
    Media("tree/x.mp3");
    Media("tree/deep/y.ogg.txt");
    Media("tree/deep/z.avi");
    std::string title = "unset";
    SettingsStore().SetFolderBrowser([&](void* owner, const std::string& t) {
        EXPECT_EQ(owner, static_cast<QWidget*>(window.get()));
        title = t;
        return std::optional<std::string>(dir + "/tree");
    });
    QTest::mouseClick(window->ToolButton2, Qt::LeftButton);
    SettingsStore().SetFolderBrowser(nullptr);
    EXPECT_EQ(title, "");
    ASSERT_EQ(list->Count(), 2);
    EXPECT_EQ(list->Item(0)->FileName, dir + "/tree/x.mp3");
    EXPECT_EQ(list->Item(1)->FileName, dir + "/tree/deep/z.avi");
}

TEST_F(PlayListWindow, OpenListFilesJoinsThemAndPlaysNothing) {
    std::ofstream(dir + "/one.lst", std::ios::binary) << "/m/a.mp3\r\n/m/b.mp3\r\n";
    std::ofstream(dir + "/two.lst", std::ios::binary) << "/m/c.mp3\n";
    Fill(2);
    list->Select(0);
    whenModal<QFileDialog>([this](QFileDialog* f) {
        EXPECT_TRUE(f->nameFilters().contains(QStringLiteral("List Files (*.lst)")));
        EXPECT_TRUE(f->nameFilters().contains(QStringLiteral("M3U Play Lists (*.m3u *.m3u8)")));
        TypeAndAccept(f, dir, "\"two.lst\" \"one.lst\"");
    });
    QTest::mouseClick(window->ToolButton11, Qt::LeftButton);
    std::vector<std::string> names;
    for (int i = 0; i < list->Count(); ++i)
        names.push_back(list->Item(i)->FileName);
    EXPECT_EQ(names, (std::vector<std::string>{"/m/c.mp3", "/m/a.mp3", "/m/b.mp3"}));
    EXPECT_EQ(list->Current(), nullptr);
    EXPECT_TRUE(player.calls.empty());
    ExpectRowsMatch();
}

TEST_F(PlayListWindow, SaveAppendsLstOnlyToANameWithoutExtension) {
    Fill(2);
    const std::string expected =
        list->Item(0)->FileName + "\r\n" + list->Item(1)->FileName + "\r\n";
    for (const char* typed : {"x", "x.m3u"}) {
        whenModal<QFileDialog>([this, typed](QFileDialog* f) {
            EXPECT_EQ(f->acceptMode(), QFileDialog::AcceptSave);
            // Saving writes our own format only.
            EXPECT_EQ(f->nameFilters().filter(QStringLiteral("m3u")).size(), 0);
            TypeAndAccept(f, dir, QString::fromLatin1(typed));
        });
        QTest::mouseClick(window->ToolButton12, Qt::LeftButton);
    }
    EXPECT_EQ(ReadAll(dir + "/x.lst"), expected);
    EXPECT_EQ(ReadAll(dir + "/x.m3u"), expected);
    EXPECT_FALSE(fs::exists(dir + "/x"));
    EXPECT_FALSE(fs::exists(dir + "/x.m3u.lst"));

    // An existing file is replaced without a question.
    list->Remove(0);
    whenModal<QFileDialog>([this](QFileDialog* f) { TypeAndAccept(f, dir, "x"); });
    QTest::mouseClick(window->ToolButton12, Qt::LeftButton);
    EXPECT_EQ(ReadAll(dir + "/x.lst"), list->Item(0)->FileName + "\r\n");
}

TEST_F(PlayListWindow, FailedSaveShowsTheErrorAndKeepsTheOldFile) {
    const std::string keep = dir + "/keep.lst";
    std::ofstream(keep, std::ios::binary) << "old\r\n";
    {
        std::ofstream big(dir + "/big.lst", std::ios::binary);
        for (int i = 0; i < 200; ++i)
            big << "/m/a-long-name-for-an-entry-that-makes-the-list-big-" << i << ".mp3\r\n";
    }
    list->BeginUpdate();
    list->LoadFromFile(dir + "/big.lst");
    list->EndUpdate();
    fs::remove(dir + "/big.lst");
    ASSERT_EQ(list->Count(), 200);

    // Writes beyond 1 KiB fail (for any user): the new list cannot be
    // written in full.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1024;
    bool boxSeen = false;
    whenModal<QFileDialog>([this, &boxSeen](QFileDialog* f) {
        whenModal<QMessageBox>(
            [](QMessageBox* box) {
                EXPECT_TRUE(box->text().contains(QStringLiteral("keep.lst")))
                    << box->text().toStdString();
                box->accept();
            },
            &boxSeen);
        TypeAndAccept(f, dir, "keep.lst");
    });
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    testing::internal::CaptureStderr();
    QTest::mouseClick(window->ToolButton12, Qt::LeftButton);
    const std::string err = testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(boxSeen);
    EXPECT_NE(err.find("keep.lst"), std::string::npos);
    EXPECT_EQ(ReadAll(keep), "old\r\n");
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename() != "zarnplayer.ini")
            left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"keep.lst"}) << "no temporary file is left behind";
    EXPECT_EQ(list->Count(), 200);
}

// --- The picture -----------------------------------------------------------

TEST_F(PlayListWindow, ScreenshotWithACurrentEntry) {
    list->BeginUpdate();
    for (const char* name : {"Morning Lecture.mp3", "Chapter 02.wav", "Interview.ogg.mp3",
                             "Talk - Part 4.mp3", "Notes.avi"})
        list->Add(Media(name));
    list->EndUpdate();
    list->Select(1);
    ClickRows({3});
    window->resize(320, 331);
    QCoreApplication::processEvents();
    const char* build = std::getenv("ZARN_BUILD_DIR");
    const fs::path folder = fs::path(build ? build : ".") / "artifacts";
    fs::create_directories(folder);
    const QString file = QString::fromStdString((folder / "playlistform.png").string());
    const QPixmap shot = window->grab();
    ASSERT_TRUE(shot.save(file));
    EXPECT_EQ(shot.size(), window->size());
    EXPECT_EQ(window->RowImage(1), 1);
}

} // namespace
