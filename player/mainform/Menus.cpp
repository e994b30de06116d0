// The main window's commands: the main menu, the video panel's pop-up menu,
// the Bookmark menu, dropped files and the names a second start hands over.
#include "platform/handoff/Channel.h"
#include "player/bookmarkforms/Bookmarkqt.h"
#include "player/bookmarkforms/Editbookmarkform.h"
#include "player/bookmarkforms/Edittitleform.h"
#include "player/bookmarks/Bookmark.h"
#include "player/config/Aboutform.h"
#include "player/config/Extention.h"
#include "player/config/Helpdoc.h"
#include "player/config/Optionform.h"
#include "player/config/Tool.h"
#include "player/list/Filelist.h"
#include "player/mainform/Mainform.h"
#include "player/mainform/Videopanel.h"
#include "player/widgets/Widgetsupport.h"

#include <QActionGroup>
#include <QApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace {

// The menu items that mirror a state; set each time their menu opens.
enum class Mirror {
    None,
    Zoom,
    Auto,
    VirtualTime,
    Reverse,
    PlayInfo,
    PlayControls,
    PlayList,
    StayOnTop,
    Play,
    Stop,
    Pause,
    Repeat,
    Resume,
    Sleep,
};

constexpr const char* MirrorKey = "zarnMirror";

QAction* Item(QMenu* menu, const char* name, const QString& text, const QKeySequence& key,
              Mirror mirror, int value = 0) {
    auto* a = menu->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    if (!key.isEmpty()) {
        a->setShortcut(key);
        // The main menu's keys work in every window of the player (the play
        // list window, the full-screen view), not only while this one is
        // active; a modal dialog still keeps them.
        a->setShortcutContext(Qt::ApplicationShortcut);
    }
    a->setProperty(MirrorKey, static_cast<int>(mirror));
    a->setData(value);
    a->setCheckable(mirror != Mirror::None && mirror != Mirror::Play && mirror != Mirror::Stop &&
                    mirror != Mirror::Pause);
    return a;
}

} // namespace

void TMain::BuildMenus() {
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    setMenuBar(MainMenu1);
    const QKeySequence none;
    auto key = [](QKeyCombination k) { return QKeySequence(k); };

    QMenu* file = MainMenu1->addMenu(tr("&File"));
    file->setObjectName(QStringLiteral("File1"));
    connect(Item(file, "OpenFiles1", tr("&Open Files..."), key(Qt::Key_O), Mirror::None),
            &QAction::triggered, this, &TMain::OpenFilesClick);
    file->addSeparator();
    connect(Item(file, "Exit1", tr("E&xit"), key(Qt::Key_Q), Mirror::None), &QAction::triggered,
            this, &QWidget::close);

    // The Zoom items, in the main menu with keys and in the pop-up without.
    auto addZoom = [this](QMenu* zoom, const char* suffix, bool keys) {
        auto name = [suffix](const char* base) { return QByteArray(base) + suffix; };
        connect(Item(zoom, name("FullScreen").constData(), tr("&Full Screen"),
                     keys ? QKeySequence(Qt::Key_F) : QKeySequence(), Mirror::None),
                &QAction::triggered, this, &TMain::ToggleFullScreen);
        zoom->addSeparator();
        const int percents[] = {50, 100, 200, 300};
        const Qt::Key keysOf[] = {Qt::Key_F1, Qt::Key_F2, Qt::Key_F3, Qt::Key_F4};
        for (int i = 0; i < 4; ++i) {
            const int p = percents[i];
            QAction* a =
                Item(zoom, (QByteArray("Zoom") + QByteArray::number(p) + suffix).constData(),
                     QStringLiteral("&%1%").arg(p), keys ? QKeySequence(keysOf[i]) : QKeySequence(),
                     Mirror::Zoom, p);
            connect(a, &QAction::triggered, this, [this, p] { ZoomClick(p); });
        }
        zoom->addSeparator();
        connect(Item(zoom, name("Auto").constData(), tr("&Auto"), QKeySequence(), Mirror::Auto),
                &QAction::triggered, this, &TMain::AutoClick);
    };

    QMenu* view = MainMenu1->addMenu(tr("&View"));
    view->setObjectName(QStringLiteral("View1"));
    QMenu* zoom = view->addMenu(tr("&Zoom"));
    zoom->setObjectName(QStringLiteral("Zoom1"));
    addZoom(zoom, "1", true);
    QMenu* time = view->addMenu(tr("&Time"));
    time->setObjectName(QStringLiteral("Time1"));
    connect(Item(time, "VirtualTime1", tr("&Virtual Time"), key(Qt::CTRL | Qt::Key_V),
                 Mirror::VirtualTime),
            &QAction::triggered, this, [this] { TimeMode = TimeMode ? 0 : 1; });
    connect(Item(time, "Reverse1", tr("&Reverse"), key(Qt::CTRL | Qt::Key_R), Mirror::Reverse),
            &QAction::triggered, this, [this] { TimeReverse = TimeReverse ? 0 : 1; });
    QMenu* bars = view->addMenu(tr("Tool&Bar"));
    bars->setObjectName(QStringLiteral("ToolBar1"));
    connect(Item(bars, "PlayInfo1", tr("Play &Info"), key(Qt::CTRL | Qt::Key_I), Mirror::PlayInfo),
            &QAction::triggered, this, [this] { SetPlayInfoVisible(Panel4->isHidden()); });
    connect(Item(bars, "PlayControls1", tr("Play &Controls"), key(Qt::CTRL | Qt::Key_C),
                 Mirror::PlayControls),
            &QAction::triggered, this, [this] { SetPlayControlsVisible(Panel1->isHidden()); });
    view->addSeparator();
    connect(Item(view, "PlayList1", tr("&PlayList..."), key(Qt::Key_L), Mirror::PlayList),
            &QAction::triggered, this, &TMain::PlayListClick);
    connect(Item(view, "StayOnTop1", tr("Stay&OnTop"), key(Qt::Key_T), Mirror::StayOnTop),
            &QAction::triggered, this, &TMain::StayOnTopClick);

    QMenu* play = MainMenu1->addMenu(tr("&Play"));
    play->setObjectName(QStringLiteral("Play1Menu"));
    connect(Item(play, "Play1", tr("&Play"), key(Qt::Key_P), Mirror::Play), &QAction::triggered,
            this, &TMain::PlayClick);
    connect(Item(play, "Stop1", tr("&Stop"), key(Qt::Key_S), Mirror::Stop), &QAction::triggered,
            this, &TMain::StopClick);
    connect(Item(play, "Pause1", tr("Pa&use"), key(Qt::Key_W), Mirror::Pause), &QAction::triggered,
            this, &TMain::PauseClick);
    play->addSeparator();
    Next1 = Item(play, "Next1", tr("&Next"), key(Qt::Key_N), Mirror::None);
    connect(Next1, &QAction::triggered, this, &TMain::NextClick);
    Prev1 = Item(play, "Prev1", tr("Pre&v"), key(Qt::Key_B), Mirror::None);
    connect(Prev1, &QAction::triggered, this, &TMain::PrevClick);
    play->addSeparator();
    // The bracket keys are no menu's, no list's and not the window's own
    // (which ignores modifiers: Ctrl+Right would seek).
    NextChapter1 =
        Item(play, "NextChapter1", tr("Next &Chapter"), key(Qt::Key_BracketRight), Mirror::None);
    connect(NextChapter1, &QAction::triggered, &core_, &TPlayerCore::NextChapter);
    PrevChapter1 =
        Item(play, "PrevChapter1", tr("Previous C&hapter"), key(Qt::Key_BracketLeft), Mirror::None);
    connect(PrevChapter1, &QAction::triggered, &core_, &TPlayerCore::PrevChapter);
    ChapterMenu = play->addMenu(tr("Ch&apters"));
    ChapterMenu->setObjectName(QStringLiteral("Chapters1"));
    connect(ChapterMenu, &QMenu::aboutToShow, this, &TMain::UpdateChapterMenu);
    connect(&core_, &TPlayerCore::chaptersChanged, this, &TMain::ShowChapters);
    ShowChapters();
    play->addSeparator();
    QMenu* repeat = play->addMenu(tr("&Repeat"));
    repeat->setObjectName(QStringLiteral("Repeat1Menu"));
    const Qt::Key modeKeys[] = {Qt::Key_N, Qt::Key_R, Qt::Key_A, Qt::Key_S};
    for (int i = 0; i < 4; ++i)
        connect(Item(repeat, (QByteArray(kRepeatModeItems[i]).replace("&", "") + "1").constData(),
                     tr(kRepeatModeItems[i]), key(Qt::CTRL | Qt::ALT | modeKeys[i]), Mirror::Repeat,
                     i),
                &QAction::triggered, this, [this, i] { SetRepeatMode(i); });
    BuildListeningMenu(play);

    BookmarkMenu = MainMenu1->addMenu(tr("&Bookmark"));
    BookmarkMenu->setObjectName(QStringLiteral("Bookmark1"));
    QMenu* add = BookmarkMenu->addMenu(tr("&Add Bookmark"));
    add->setObjectName(QStringLiteral("AddBookmark1"));
    connect(Item(add, "AddFiles1", tr("Add &Files..."), none, Mirror::None), &QAction::triggered,
            this, &TMain::AddFilesBookmarkClick);
    connect(Item(add, "AddDirectory1", tr("Add &Directory ..."), none, Mirror::None),
            &QAction::triggered, this, &TMain::AddDirectoryBookmarkClick);
    connect(Item(BookmarkMenu, "EditBookmark1", tr("&Edit Bookmark"), none, Mirror::None),
            &QAction::triggered, this, &TMain::EditBookmarkClick);
    BookmarkMenu->addSeparator();
    connect(BookmarkMenu, &QMenu::aboutToShow, this, [this] {
        for (QAction* a : FillBookmarkMenu(BookmarkMenu, Bookmarks())) {
            const int tag = BookmarkTag(a);
            connect(a, &QAction::triggered, this, [this, tag] {
                BookmarkClick(tag, QGuiApplication::keyboardModifiers() & Qt::ShiftModifier);
            });
        }
    });

    QMenu* option = MainMenu1->addMenu(tr("&Option"));
    option->setObjectName(QStringLiteral("Option1Menu"));
    connect(Item(option, "Option1", tr("&Option..."), none, Mirror::None), &QAction::triggered,
            this, &TMain::OptionClick);
    connect(Item(option, "Resume1", tr("&Resume"), none, Mirror::Resume), &QAction::triggered, this,
            [this] { core_.Resume = core_.Resume ? 0 : 1; });

    QMenu* about = MainMenu1->addMenu(tr("&About"));
    about->setObjectName(QStringLiteral("About1Menu"));
    connect(Item(about, "Help1", tr("&Help..."), none, Mirror::None), &QAction::triggered, this,
            &TMain::HelpClick);
    connect(Item(about, "About1", tr("&About..."), none, Mirror::None), &QAction::triggered, this,
            &TMain::AboutClick);

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    connect(Item(PopupMenu2, "OpenFiles2", tr("&Open Files..."), none, Mirror::None),
            &QAction::triggered, this, &TMain::OpenFilesClick);
    QMenu* zoom2 = PopupMenu2->addMenu(tr("&Zoom"));
    zoom2->setObjectName(QStringLiteral("Zoom2"));
    addZoom(zoom2, "2", false);
    PopupMenu2->addSeparator();
    connect(Item(PopupMenu2, "Play2", tr("&Play"), none, Mirror::Play), &QAction::triggered, this,
            &TMain::PlayClick);
    connect(Item(PopupMenu2, "Stop2", tr("&Stop"), none, Mirror::Stop), &QAction::triggered, this,
            &TMain::StopClick);
    connect(Item(PopupMenu2, "Pause2", tr("Pa&use"), none, Mirror::Pause), &QAction::triggered,
            this, &TMain::PauseClick);
    PopupMenu2->addSeparator();
    // The pop-up's own mnemonics: P and O are Play's and Open Files'.
    connect(Item(PopupMenu2, "PlayList2", tr("Play&List..."), none, Mirror::PlayList),
            &QAction::triggered, this, &TMain::PlayListClick);
    connect(Item(PopupMenu2, "Option2", tr("Op&tion..."), none, Mirror::None), &QAction::triggered,
            this, &TMain::OptionClick);
    PopupMenu2->addSeparator();
    connect(Item(PopupMenu2, "Exit2", tr("E&xit"), none, Mirror::None), &QAction::triggered, this,
            &QWidget::close);
    Panel2->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Panel2, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu2->popup(Panel2->mapToGlobal(at)); });

    for (QMenu* menu : findChildren<QMenu*>())
        if (menu != PopupMenu1 && menu != BookmarkMenu)
            connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateMenus(menu); });

    // Files dropped anywhere on the window land here.
    setAcceptDrops(true);
}

void TMain::UpdateMenus(QMenu* menu) {
    std::int32_t state = 0;
    if (player())
        player()->GetState(&state);
    for (QAction* a : menu->actions()) {
        switch (static_cast<Mirror>(a->property(MirrorKey).toInt())) {
        case Mirror::Zoom:
            a->setChecked(Zoom == a->data().toInt());
            break;
        case Mirror::Auto:
            a->setChecked(AutoResize != 0);
            break;
        case Mirror::VirtualTime:
            a->setChecked(TimeMode != 0);
            break;
        case Mirror::Reverse:
            a->setChecked(TimeReverse != 0);
            break;
        case Mirror::PlayInfo:
            a->setChecked(!Panel4->isHidden());
            break;
        case Mirror::PlayControls:
            a->setChecked(!Panel1->isHidden());
            break;
        case Mirror::PlayList:
            a->setChecked(playListWindow_ && playListWindow_->isVisible());
            break;
        case Mirror::StayOnTop:
            a->setChecked(StayOnTop != 0);
            break;
        case Mirror::Play:
            a->setEnabled(state == PLAYER_STOPPED || state == PLAYER_PAUSED);
            break;
        case Mirror::Stop:
            a->setEnabled(state == PLAYER_PAUSED || state == PLAYER_PLAYING);
            break;
        case Mirror::Pause:
            a->setEnabled(state == PLAYER_PLAYING);
            break;
        case Mirror::Repeat:
            a->setChecked(core_.RepeatMode == a->data().toInt());
            break;
        case Mirror::Resume:
            a->setChecked(core_.Resume != 0);
            break;
        case Mirror::Sleep:
            a->setChecked(static_cast<int>(core_.GetSleepMode()) == a->data().toInt());
            break;
        case Mirror::None:
            break;
        }
    }
}

// Skips by seconds and the sleep timer, at the end of the Play menu. The
// keys are ones the window's own key handler leaves to the menus.
void TMain::BuildListeningMenu(QMenu* play) {
    play->addSeparator();
    connect(Item(play, "SkipBack1", tr("Skip &Back"), QKeySequence(Qt::Key_Comma), Mirror::None),
            &QAction::triggered, this, [this] { core_.SkipBack(); });
    connect(
        Item(play, "SkipForward1", tr("Skip &Forward"), QKeySequence(Qt::Key_Period), Mirror::None),
        &QAction::triggered, this, [this] { core_.SkipForward(); });
    QMenu* sleep = play->addMenu(tr("S&leep Timer"));
    sleep->setObjectName(QStringLiteral("SleepTimer1"));
    auto* group = new QActionGroup(sleep);
    const SleepMode modes[] = {SleepMode::Off,       SleepMode::Minutes15, SleepMode::Minutes30,
                               SleepMode::Minutes45, SleepMode::Minutes60, SleepMode::EndOfChapter,
                               SleepMode::EndOfFile};
    // The mnemonics: O, the minutes' first digits, C and F.
    const int mnemonicAt[] = {0, 0, 0, 0, 0, 7, 7};
    for (int i = 0; i < 7; ++i) {
        const SleepMode mode = modes[i];
        const int value = static_cast<int>(mode);
        const QString text = tr(SleepTimer::ModeText(mode)).insert(mnemonicAt[i], QLatin1Char('&'));
        QAction* a = Item(sleep, (QByteArray("Sleep") + QByteArray::number(value)).constData(),
                          text, QKeySequence(), Mirror::Sleep, value);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, mode] { core_.SetSleepMode(mode); });
    }
}

void TMain::ShowChapters() {
    const bool any = core_.ChapterCount() > 0;
    NextChapter1->setEnabled(any);
    PrevChapter1->setEnabled(any);
    ChapterMenu->menuAction()->setEnabled(any);
    FillChapterMenu();
}

// Built once per file: opening the menu then only moves the mark, unless
// the times shown have changed with the rate or the time mode.
void TMain::FillChapterMenu() {
    ChapterMenu->clear();
    const int current = core_.CurrentChapter();
    const double rate = core_.RateValue();
    chapterMenuTimes_ = ChapterMenuTimes();
    chapterMenuMark_ = current;
    for (int i = 0; i < core_.ChapterCount(); ++i) {
        std::int64_t start = core_.Chapters()[i].Start;
        if (TimeMode)
            start = static_cast<std::int64_t>(static_cast<double>(start) / rate);
        // The start stands where a shortcut would; a title's "&" is no mnemonic.
        // The first nine are numbered and reached by their digit; the rest,
        // by the arrow keys (a tenth "&10" would only share the 1).
        const QString number = QString::number(i + 1) + QLatin1Char(' ');
        const QString title =
            (i < 9 ? QLatin1Char('&') + number : number) +
            QString::fromUtf8(core_.ChapterTitle(i)).replace(QLatin1Char('&'), QLatin1String("&&"));
        QAction* a = ChapterMenu->addAction(title + QLatin1Char('\t') +
                                            QString::fromStdString(FormatTime(start)));
        a->setCheckable(true);
        a->setChecked(i == current);
        connect(a, &QAction::triggered, this, [this, i] { core_.GoToChapter(i); });
    }
}

std::pair<int, double> TMain::ChapterMenuTimes() const {
    return {TimeMode, TimeMode ? core_.RateValue() : 1.0};
}

void TMain::UpdateChapterMenu() {
    if (ChapterMenuTimes() != chapterMenuTimes_) {
        FillChapterMenu();
        return;
    }
    const int current = core_.CurrentChapter();
    if (current == chapterMenuMark_)
        return;
    const QList<QAction*> items = ChapterMenu->actions();
    if (chapterMenuMark_ >= 0 && chapterMenuMark_ < items.size())
        items[chapterMenuMark_]->setChecked(false);
    if (current >= 0 && current < items.size())
        items[current]->setChecked(true);
    chapterMenuMark_ = current;
}

bool TMain::ListViewFocused() const {
    return listFocused_ && listFocused_();
}

void TMain::PlayListClick() {
    if (!playListWindow_)
        return;
    if (!playListWindow_->isVisible()) {
        ShowPlayList();
        return;
    }
    const bool hadKeys = playListWindow_->isActiveWindow();
    playListWindow_->hide();
    // The keys that closed the list go on in the main window, not nowhere.
    if (hadKeys)
        activateWindow();
}

void TMain::ShowPlayList() {
    // A list opened by a command is where the next keys belong, as a
    // keyboard user expects (a window manager may not give it the focus).
    playListWindow_->show();
    playListWindow_->raise();
    playListWindow_->activateWindow();
}

void TMain::OptionClick() {
    TOption::Execute(this, player());
}

void TMain::AboutClick() {
    TAbout::Execute(this, player());
}

void TMain::HelpClick() {
    if (const auto document = HelpDocument())
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(document->c_str())));
}

// --- Bookmarks ---------------------------------------------------------

void TMain::EditBookmarkClick() {
    TEditBookmark dialog(this, Bookmarks());
    dialog.exec();
}

void TMain::BookmarkClick(int tag, bool shift) {
    if (shift)
        Bookmarks().AddToPlayList(tag, list_);
    else
        core_.PlayBookmark(tag);
}

void TMain::AddFilesBookmarkClick() {
    QStringList filters;
    for (const std::string& choice : TExtentions::FilterChoices())
        filters << QString::fromStdString(choice);
    QFileDialog dialog(this);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(filters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    std::vector<std::string> names;
    for (const QString& f : dialog.selectedFiles())
        names.push_back(QFile::encodeName(f).toStdString());
    TEditTitle title(this);
    std::string text = names.front();
    if (title.ShowTitleDialog(text, names))
        core_.PlayBookmark(Bookmarks().AddFiles(text, names));
}

void TMain::AddDirectoryBookmarkClick() {
    const auto folder = SettingsStore().BrowseForFolder(static_cast<QWidget*>(this), "");
    if (!folder)
        return;
    TEditTitle title(this);
    std::string text = *folder;
    if (title.ShowTitleDialog(text, {*folder}))
        core_.PlayBookmark(Bookmarks().AddDirectory(text, *folder));
}

// --- Dropped files and the hand-off ------------------------------------

void TMain::dragEnterEvent(QDragEnterEvent* e) {
    if (!LocalFiles(e->mimeData()).empty())
        e->acceptProposedAction();
}

void TMain::dropEvent(QDropEvent* e) {
    const std::vector<std::string> names = LocalFiles(e->mimeData());
    if (names.empty())
        return;
    e->acceptProposedAction();
    core_.DropFiles(names, e->modifiers() & Qt::ControlModifier);
}

void TMain::SetHandOff(handoff::Receiver* receiver) {
    delete handOffNotifier_;
    handOffNotifier_ = nullptr;
    receiver_ = receiver;
    if (!receiver_)
        return;
    handOffNotifier_ = new QSocketNotifier(receiver_->ListenFd(), QSocketNotifier::Read, this);
    connect(handOffNotifier_, &QSocketNotifier::activated, this, &TMain::AnswerHandOff);
}

void TMain::AnswerHandOff() {
    // Refilling the list lets queued events run; a second hand-off waits
    // for the end of this one.
    if (!receiver_ || answeringHandOff_)
        return;
    answeringHandOff_ = true;
    handOffNotifier_->setEnabled(false);
    receiver_->Answer([this](const std::vector<std::string>& names) {
        if (headless_ || statusLines_) {
            std::printf("hand-off: %zu name%s\n", names.size(), names.size() == 1 ? "" : "s");
            std::fflush(stdout);
        }
        core_.HandOff(names);
    });
    if (handOffNotifier_)
        handOffNotifier_->setEnabled(true);
    answeringHandOff_ = false;
    // A sender whose message has not all come yet is looked at again
    // shortly; it is never waited for here.
    if (receiver_ && receiver_->Waiting())
        QTimer::singleShot(20, this, &TMain::AnswerHandOff);
}
