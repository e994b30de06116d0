// The main window's commands: the menus' marks and enabling, the keys it
// takes before the focused control, dropped files, the Bookmark menu, Help,
// and a real hand-off from a second start over the channel.
#include "Fixture.h"

#include "platform/handoff/Channel.h"
#include "player/bookmarkforms/Bookmarkqt.h"
#include "player/bookmarks/Bookmark.h"
#include "player/config/Helpdoc.h"
#include "player/config/Optionform.h"
#include "player/mainform/Videopanel.h"
#include "tests/player/mediainfo/MadeMedia.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDropEvent>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QSlider>
#include <QTest>
#include <QUrl>

#include <future>

namespace {

QAction* Action(TMain& m, const char* name) {
    auto* a = m.findChild<QAction*>(QString::fromLatin1(name));
    EXPECT_TRUE(a) << name;
    return a;
}

QMenu* Menu(TMain& m, const char* name) {
    auto* menu = m.findChild<QMenu*>(QString::fromLatin1(name));
    EXPECT_TRUE(menu) << name;
    return menu;
}

void Open(QMenu* menu) {
    emit menu->aboutToShow();
}

std::vector<std::string> Names(const TFileList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(list.Item(i)->FileName);
    return out;
}

void Drop(TMain& m, const std::vector<std::string>& files, Qt::KeyboardModifiers mods) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const auto& f : files)
        urls << QUrl::fromLocalFile(QString::fromStdString(f));
    data->setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, mods);
    QApplication::sendEvent(&m, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, mods);
    QApplication::sendEvent(&m, &drop);
    delete data;
}

class Commands : public WindowTest {};

} // namespace

// Takes the URLs the desktop would open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

TEST_F(Commands, ViewAndOptionMenusShowTheStateWhenTheyOpen) {
    TMain& m = Started();
    EXPECT_GT(m.NonClientHeight(), 0) << "the window has its menu bar";
    m.TimeMode = 1;
    m.TimeReverse = 0;
    m.Zoom = 200;
    m.AutoResize = 1;
    m.StayOnTop = 0;
    core->Resume = 1;
    m.SetPlayInfoVisible(false);
    Open(Menu(m, "Zoom1"));
    Open(Menu(m, "Zoom2"));
    Open(Menu(m, "Time1"));
    Open(Menu(m, "ToolBar1"));
    Open(Menu(m, "View1"));
    Open(Menu(m, "Option1Menu"));
    for (const char* z : {"Zoom501", "Zoom1001", "Zoom3001", "Zoom502"})
        EXPECT_FALSE(Action(m, z)->isChecked()) << z;
    EXPECT_TRUE(Action(m, "Zoom2001")->isChecked());
    EXPECT_TRUE(Action(m, "Zoom2002")->isChecked());
    EXPECT_TRUE(Action(m, "Auto1")->isChecked());
    EXPECT_TRUE(Action(m, "Auto2")->isChecked());
    EXPECT_TRUE(Action(m, "VirtualTime1")->isChecked());
    EXPECT_FALSE(Action(m, "Reverse1")->isChecked());
    EXPECT_FALSE(Action(m, "PlayInfo1")->isChecked());
    EXPECT_TRUE(Action(m, "PlayControls1")->isChecked());
    EXPECT_FALSE(Action(m, "StayOnTop1")->isChecked());
    EXPECT_FALSE(Action(m, "PlayList1")->isChecked());
    EXPECT_TRUE(Action(m, "Resume1")->isChecked());

    // The items act on the state they show.
    Action(m, "VirtualTime1")->trigger();
    Action(m, "Resume1")->trigger();
    Action(m, "PlayInfo1")->trigger();
    EXPECT_EQ(m.TimeMode, 0);
    EXPECT_EQ(core->Resume, 0);
    EXPECT_FALSE(m.Panel4->isHidden());
    Action(m, "PlayList1")->trigger();
    EXPECT_TRUE(playList->isVisible());
    Open(Menu(m, "View1"));
    Open(Menu(m, "PopupMenu2"));
    EXPECT_TRUE(Action(m, "PlayList1")->isChecked());
    EXPECT_TRUE(Action(m, "PlayList2")->isChecked());
    Action(m, "PlayList2")->trigger();
    EXPECT_FALSE(playList->isVisible()) << "the item hides a shown play list";
    // Option... and About... are there to use.
    EXPECT_TRUE(Action(m, "Option1")->isEnabled());
    EXPECT_TRUE(Action(m, "About1")->isEnabled());
}

TEST_F(Commands, PlayItemsFollowTheEngineStateAndRepeatItsMode) {
    TMain& m = Started();
    struct Case {
        std::int32_t state;
        bool play, stop, pause;
    };
    for (const Case c :
         {Case{PLAYER_STOPPED, true, false, false}, Case{PLAYER_PAUSED, true, true, false},
          Case{PLAYER_PLAYING, false, true, true}, Case{PLAYER_NOFILE, false, false, false},
          Case{7, false, false, false}}) {
        player.state = c.state;
        Open(Menu(m, "Play1Menu"));
        Open(Menu(m, "PopupMenu2"));
        for (const char* suffix : {"1", "2"}) {
            EXPECT_EQ(Action(m, (std::string("Play") + suffix).c_str())->isEnabled(), c.play)
                << c.state;
            EXPECT_EQ(Action(m, (std::string("Stop") + suffix).c_str())->isEnabled(), c.stop)
                << c.state;
            EXPECT_EQ(Action(m, (std::string("Pause") + suffix).c_str())->isEnabled(), c.pause)
                << c.state;
        }
    }
    m.SetRepeatMode(3);
    Open(Menu(m, "Repeat1Menu"));
    EXPECT_TRUE(Action(m, "Random1")->isChecked());
    EXPECT_FALSE(Action(m, "Repeat1")->isChecked());
    Action(m, "All1")->trigger();
    EXPECT_EQ(core->RepeatMode, 2);
    // Prev and Next need a second entry.
    EXPECT_FALSE(Action(m, "Next1")->isEnabled());
    core->DropFiles({Media("a.mp3"), Media("b.mp3")}, false);
    EXPECT_TRUE(Action(m, "Next1")->isEnabled());
    EXPECT_TRUE(Action(m, "Prev1")->isEnabled());
}

TEST_F(Commands, MenuKeysReachTheirCommands) {
    TMain& m = Started({Media("a.mp3")});
    m.activateWindow();
    QApplication::setActiveWindow(&m);
    player.state = PLAYER_PLAYING;
    player.calls.clear();
    QTest::keyClick(&m, Qt::Key_W);
    QTest::keyClick(&m, Qt::Key_S);
    QTest::keyClick(&m, Qt::Key_P);
    EXPECT_EQ(player.calls, (std::vector<std::string>{"Pause", "Stop", "Play"}));
    QTest::keyClick(&m, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(core->RepeatMode, 2);
    QTest::keyClick(&m, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(m.TimeMode, 1);

    // In an open menu a letter is the item's, though the window has a
    // one-letter key of its own for it (O opens files).
    QMenu* option = Menu(m, "Option1Menu");
    option->popup(m.mapToGlobal(QPoint(0, 0)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(option));
    bool options = false;
    zarntest::whenModal<QDialog>(
        [&](QDialog* d) {
            options = qobject_cast<TOption*>(d) != nullptr;
            d->reject();
        },
        nullptr);
    QTest::keyClick(option, Qt::Key_O);
    EXPECT_TRUE(options) << "O in the Option menu did not open the options";
}

// In full screen the view is the active window: the main menu's keys, F to
// leave, and the video panel's pop-up menu on a right click.
TEST_F(Commands, MenuKeysAndThePopUpMenuWorkInFullScreen) {
    TMain& m = Started({Media("a.mp3")});
    player.state = PLAYER_PLAYING;
    m.ToggleFullScreen();
    QWidget* full = m.Panel2->FullScreenView();
    ASSERT_NE(full, nullptr);
    full->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(full));
    player.calls.clear();
    QTest::keyClick(full, Qt::Key_W);
    QTest::keyClick(full, Qt::Key_S);
    QTest::keyClick(full, Qt::Key_P);
    EXPECT_EQ(player.calls, (std::vector<std::string>{"Pause", "Stop", "Play"}));
    QTest::keyClick(full, Qt::Key_R, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(core->RepeatMode, 1);
    QTest::keyClick(full, Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(core->RepeatMode, 3);
    QTest::keyClick(full, Qt::Key_F1);
    EXPECT_EQ(m.Zoom, 50) << "remembered, though full screen keeps the size";
    QTest::keyClick(full, Qt::Key_T);
    EXPECT_EQ(m.StayOnTop, 0) << "stay on top does not change in full screen";

    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(20, 20),
                                 full->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(full, &rightClick);
    EXPECT_TRUE(m.PopupMenu2->isVisible());
    m.PopupMenu2->hide();

    full->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(full));
    QTest::keyClick(full, Qt::Key_F);
    EXPECT_EQ(m.Panel2->FullScreenView(), nullptr);
    EXPECT_FALSE(player.fullScreen);
}

TEST_F(Commands, TheWindowsKeysActUnlessThePlayListHasTheFocus) {
    TMain& m = Started({Media("a.mp3")});
    m.TrackBar2->setValue(50);
    m.ComboBox1->setCurrentIndex(m.ComboBox1->findText("2.0"));
    m.ComboBox1Change();
    player.state = PLAYER_PLAYING;
    player.calls.clear();

    playList->show();
    auto* view = playList->findChild<QListWidget*>("ListView1");
    ASSERT_TRUE(view);
    QApplication::setActiveWindow(playList.get());
    view->setFocus();
    ASSERT_TRUE(m.ListViewFocused());
    for (int key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Left, Qt::Key_Right, Qt::Key_Up,
                    Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown})
        EXPECT_FALSE(m.HandleShortcut(key)) << key;
    EXPECT_TRUE(player.calls.empty());
    EXPECT_EQ(m.TrackBar2->value(), 50);

    QApplication::setActiveWindow(&m);
    m.setFocus();
    ASSERT_FALSE(m.ListViewFocused());
    EXPECT_TRUE(m.HandleShortcut(Qt::Key_Space));
    EXPECT_EQ(player.calls, std::vector<std::string>{"Pause"});
    EXPECT_TRUE(m.HandleShortcut(Qt::Key_Up));
    EXPECT_EQ(m.TrackBar2->value(), 58);
    EXPECT_TRUE(m.HandleShortcut(Qt::Key_Down));
    EXPECT_TRUE(m.HandleShortcut(Qt::Key_Down));
    EXPECT_EQ(m.TrackBar2->value(), 42);
    EXPECT_TRUE(m.HandleShortcut(Qt::Key_PageUp));
    EXPECT_EQ(core->RateText, "2.2");
    EXPECT_TRUE(m.HandleShortcut(Qt::Key_PageDown));
    EXPECT_TRUE(m.HandleShortcut(Qt::Key_PageDown));
    EXPECT_EQ(core->RateText, "1.9");
    EXPECT_FALSE(m.HandleShortcut(Qt::Key_X)) << "other keys are the menus'";
    // A key pressed in the window goes to the handler before the control.
    player.calls.clear();
    player.state = PLAYER_PAUSED;
    QTest::keyClick(m.TrackBar1, Qt::Key_Space);
    EXPECT_EQ(player.calls, std::vector<std::string>{"Play"});
}

// Skips by seconds on keys the window's handler leaves to the menus, and
// the sleep timer's submenu: one mode checked, the time left in the info line.
TEST_F(Commands, SkipKeysAndTheSleepTimerMenu) {
    constexpr std::int64_t second = 10'000'000;
    TMain& m = Started({Media("a.mp3")});
    m.activateWindow();
    QApplication::setActiveWindow(&m);
    player.state = PLAYER_PLAYING;
    player.duration = 600 * second;
    player.position = 100 * second;
    EXPECT_FALSE(m.HandleShortcut(Qt::Key_Comma));
    EXPECT_FALSE(m.HandleShortcut(Qt::Key_Period));
    QTest::keyClick(&m, Qt::Key_Comma);
    EXPECT_EQ(player.position, 90 * second);
    QTest::keyClick(&m, Qt::Key_Period);
    EXPECT_EQ(player.position, 120 * second);

    const char* modes[] = {"Sleep0", "Sleep1", "Sleep2", "Sleep3", "Sleep4", "Sleep5", "Sleep6"};
    auto checked = [&] {
        Open(Menu(m, "SleepTimer1"));
        std::vector<std::string> on;
        for (const char* name : modes)
            if (Action(m, name)->isChecked())
                on.push_back(name);
        return on;
    };
    EXPECT_EQ(checked(), std::vector<std::string>{"Sleep0"});
    EXPECT_EQ(Action(m, "Sleep2")->text(), "&30 minutes");
    Action(m, "Sleep2")->trigger();
    EXPECT_EQ(core->GetSleepMode(), SleepMode::Minutes30);
    EXPECT_EQ(checked(), std::vector<std::string>{"Sleep2"});
    m.Timer1Timer();
    EXPECT_TRUE(m.StaticText3->text().endsWith("  sleep 30:00"))
        << m.StaticText3->text().toStdString();
    Action(m, "Sleep0")->trigger();
    EXPECT_EQ(checked(), std::vector<std::string>{"Sleep0"});
    m.Timer1Timer();
    EXPECT_FALSE(m.StaticText3->text().contains("sleep"));
}

TEST_F(Commands, APlainDropReplacesTheListAndPlaysTheFirst) {
    TMain& m = Started({Media("old.mp3")});
    player.calls.clear();
    const std::string a = Media("a b.mp3"), b = Media("b.mp3");
    Drop(m, {a, b}, Qt::NoModifier);
    EXPECT_EQ(Names(*list), (std::vector<std::string>{a, b}));
    EXPECT_EQ(player.With("Open"), std::vector<std::string>{"Open(" + a + ")"});
    EXPECT_TRUE(player.Has("Play"));
    EXPECT_EQ(list->Current(), list->Item(0));
}

TEST_F(Commands, ACtrlDropAppendsAndPlaysTheFirstAppended) {
    TMain& m = Started();
    ASSERT_EQ(list->Count(), 0);
    const std::string a = Media("a.mp3"), b = Media("b.mp3"), c = Media("c.mp3");
    Drop(m, {a}, Qt::ControlModifier);
    EXPECT_EQ(Names(*list), std::vector<std::string>{a});
    EXPECT_EQ(player.With("Open"), std::vector<std::string>{"Open(" + a + ")"})
        << "a Ctrl drop onto an empty list plays the first dropped file";
    player.calls.clear();
    Drop(m, {b, c}, Qt::ControlModifier);
    EXPECT_EQ(Names(*list), (std::vector<std::string>{a, b, c}));
    EXPECT_EQ(player.With("Open"), std::vector<std::string>{"Open(" + b + ")"});
    EXPECT_EQ(list->Current(), list->Item(1));
    // Nothing that exists: nothing is added and nothing opens.
    player.calls.clear();
    core->DropFiles({dir + "/missing.mp3"}, true);
    EXPECT_EQ(list->Count(), 3);
    EXPECT_TRUE(player.With("Open").empty());
}

TEST_F(Commands, TheBookmarkMenuIsRebuiltOnOpeningAndShiftOnlyAppends) {
    const std::string a = Media("a.mp3"), b = Media("b.mp3"), c = Media("c.mp3");
    TBookmarks saved = Bookmarks();
    Bookmarks().records.clear();
    for (int i = 1; i <= 11; ++i)
        Bookmarks().AddFiles("talk " + std::to_string(i), {i == 11 ? c : a, b});
    TMain& m = Started({Media("old.mp3")});
    QMenu* menu = m.BookmarkMenu;
    Open(menu);
    Open(menu); // a second opening makes no second set
    QStringList captions;
    for (QAction* action : menu->actions())
        if (BookmarkTag(action) != 0)
            captions << action->text();
    ASSERT_EQ(captions.size(), 11);
    EXPECT_EQ(captions[0], "&0:talk 1");
    EXPECT_EQ(captions[10], "&10:talk 11");
    EXPECT_TRUE(captions[10].startsWith("&1")) << "its accelerator is the 1";
    EXPECT_TRUE(Action(m, "AddFiles1") && Action(m, "AddDirectory1") && Action(m, "EditBookmark1"));

    player.state = PLAYER_PLAYING;
    player.calls.clear();
    m.BookmarkClick(11, true);
    EXPECT_EQ(list->Count(), 3) << "with Shift the files are appended";
    EXPECT_TRUE(player.calls.empty()) << "and nothing else happens";

    // Without Shift: the item plays its bookmark.
    QAction* last = nullptr;
    for (QAction* action : menu->actions())
        if (BookmarkTag(action) == 11)
            last = action;
    ASSERT_TRUE(last);
    last->trigger();
    EXPECT_EQ(Names(*list), (std::vector<std::string>{c, b}));
    EXPECT_EQ(player.calls.front(), "Close");
    EXPECT_EQ(player.With("Open"), std::vector<std::string>{"Open(" + c + ")"});
    Bookmarks() = saved;
}

// Every item of every menu of the window (the menu bar, the video panel's
// and the repeat button's pop-ups, the submenus, and the bookmark and chapter
// items made on opening) is reached by a key or a mnemonic of its own.
TEST_F(Commands, EveryMenuItemHasAKeyOrAMnemonicOfItsOwn) {
    const std::string book = testmedia::ThreeChapterBook();
    ASSERT_FALSE(book.empty()) << "ffmpeg could not make the book";
    TBookmarks saved = Bookmarks();
    Bookmarks().records.clear();
    for (int i = 1; i <= 3; ++i)
        Bookmarks().AddFiles("talk " + std::to_string(i), {book});
    TMain& m = Started({book});
    m.PostMessage(WM_PLAYER_OPENED, 0, 0);
    QApplication::processEvents();
    ASSERT_EQ(core->ChapterCount(), 3);
    const std::vector<std::string> faults = zarntest::MenuKeyFaults(&m);
    EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
    int bookmarks = 0;
    for (QAction* a : m.BookmarkMenu->actions())
        bookmarks += BookmarkTag(a) != 0;
    EXPECT_EQ(bookmarks, 3) << "the bookmark items were walked";
    EXPECT_EQ(Menu(m, "Chapters1")->actions().size(), 3) << "the chapter items were walked";
    Bookmarks() = saved;
}

TEST_F(Commands, HelpOpensTheShippedDocument) {
    TMain& m = Started();
    const auto doc = HelpDocument();
    if (!doc)
        GTEST_SKIP() << "no help document in this build";
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    Action(m, "Help1")->trigger();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0].toLocalFile().toStdString(), *doc);
}

TEST_F(Commands, ASecondStartsNamesRefillTheListAndTheFirstPlays) {
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    const handoff::Settings settings{dir + "/scope", std::chrono::milliseconds(5000)};
    handoff::Start running = handoff::Decide({}, settings);
    ASSERT_TRUE(running.receiver) << running.message;
    TMain& m = Started({Media("old.mp3")});
    m.SetHandOff(running.receiver.get());
    running.receiver->Publish();
    player.calls.clear();

    // A second start in another thread; this one runs the window's loop.
    auto forward = [&](std::vector<std::string> names) {
        auto done = std::async(std::launch::async,
                               [&, names] { return handoff::Decide(names, settings).role; });
        while (done.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
            QApplication::processEvents();
        return done.get();
    };
    const std::string a = Media("with blank, and comma.mp3"), b = Media("b.mp3");
    EXPECT_EQ(forward({a, dir + "/gone.mp3", b}), handoff::Role::Forwarded);
    EXPECT_EQ(Names(*list), (std::vector<std::string>{a, b}));
    EXPECT_EQ(player.With("Open"), std::vector<std::string>{"Open(" + a + ")"});
    EXPECT_FALSE(player.Has("Close")) << "the file that played is not closed first";
    EXPECT_EQ(player.state, PLAYER_PLAYING);

    // No names: the list empties and the file plays on.
    player.calls.clear();
    EXPECT_EQ(forward({}), handoff::Role::Forwarded);
    EXPECT_EQ(list->Count(), 0);
    EXPECT_TRUE(player.calls.empty() || player.With("Open").empty());
    EXPECT_FALSE(player.Has("Stop"));
    EXPECT_EQ(player.state, PLAYER_PLAYING);
    m.SetHandOff(nullptr);
}

#include "commands_test.moc"

// The chapter items follow the open file: off without chapters; the submenu
// lists each chapter with its start (in Virtual Time divided by the rate),
// marks the current one and jumps to the one chosen; the bracket keys move
// by chapters; the info line names the current chapter with n/N.
TEST_F(Commands, ChapterItemsTheSubmenuAndTheInfoLineFollowTheOpenFile) {
    const std::string book = testmedia::ThreeChapterBook();
    ASSERT_FALSE(book.empty()) << "ffmpeg could not make the book";
    const std::string plain = Media("plain.mp3");
    TMain& m = Started({plain});
    auto opened = [&m] {
        m.PostMessage(WM_PLAYER_OPENED, 0, 0);
        QApplication::processEvents();
    };
    opened();
    auto info = [&m] { return m.StaticText3->text().toStdString(); };
    QMenu* chapters = Menu(m, "Chapters1");
    auto enabled = [&] {
        return std::vector<bool>{chapters->menuAction()->isEnabled(),
                                 Action(m, "NextChapter1")->isEnabled(),
                                 Action(m, "PrevChapter1")->isEnabled()};
    };
    EXPECT_EQ(enabled(), std::vector<bool>(3, false));
    EXPECT_EQ(info(), "plain.mp3");

    core->OpenAndPlay(book);
    opened();
    EXPECT_EQ(enabled(), std::vector<bool>(3, true));
    const std::string name = std::filesystem::path(book).filename().string();
    EXPECT_EQ(info(), name + " \u2014 Opening 1/3");
    Open(chapters);
    auto items = [chapters] {
        std::vector<std::string> out;
        for (QAction* a : chapters->actions())
            out.push_back(a->text().toStdString() + (a->isChecked() ? " *" : ""));
        return out;
    };
    EXPECT_EQ(items(),
              (std::vector<std::string>{"&1 Opening\t00:00:00 *", "&2 Chapter two\t00:00:04",
                                        "&3 Chapter 3\t00:00:08"}));
    // Built once for the file: opening the menu again keeps its items.
    const QPointer<QAction> firstItem = chapters->actions()[0];
    Open(chapters);
    EXPECT_TRUE(firstItem) << "the items were made again";
    m.ComboBox1->setCurrentIndex(m.ComboBox1->findText("2.0"));
    m.ComboBox1Change();
    m.TimeMode = 1;
    Open(chapters);
    EXPECT_EQ(items(),
              (std::vector<std::string>{"&1 Opening\t00:00:00 *", "&2 Chapter two\t00:00:02",
                                        "&3 Chapter 3\t00:00:04"}));

    chapters->actions()[2]->trigger();
    EXPECT_NEAR(player.position, 8 * 10'000'000, 10'000);
    m.Timer1Timer();
    EXPECT_EQ(info(), name + " \u2014 Chapter 3 3/3");
    Open(chapters);
    EXPECT_EQ(items(), (std::vector<std::string>{"&1 Opening\t00:00:00", "&2 Chapter two\t00:00:02",
                                                 "&3 Chapter 3\t00:00:04 *"}))
        << "the mark follows the chapter heard";
    EXPECT_EQ(m.findChild<QLabel*>("Announcement")->accessibleName().toStdString(),
              "chapter Chapter 3 3/3");

    m.activateWindow();
    QApplication::setActiveWindow(&m);
    QTest::keyClick(&m, Qt::Key_BracketLeft);
    EXPECT_NEAR(player.position, 4 * 10'000'000, 10'000) << "at its start: the one before";
    QTest::keyClick(&m, Qt::Key_BracketRight);
    EXPECT_NEAR(player.position, 8 * 10'000'000, 10'000);

    core->OpenAndPlay(plain);
    EXPECT_EQ(enabled(), std::vector<bool>(3, false)) << "off while the next file opens";
    opened();
    EXPECT_EQ(info(), "plain.mp3");
    EXPECT_TRUE(chapters->actions().isEmpty());
}
