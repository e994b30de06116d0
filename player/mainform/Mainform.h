// The main player window TMain: time bar, video panel and play controls,
// the time display (Timedisplay.cpp), zoom and full screen, the menus
// (Menus.cpp), what a screen reader hears of it (MainAccessible.h) and the
// window's life cycle. The player state and the open-and-play path are the
// core's (TPlayerCore): the window's handlers are thin calls into it and the
// window shows what it reports. The engine's messages arrive as posted
// events, so all of it runs on the GUI thread.
#pragma once

#include "engine/include/IPlayer.h"
#include "platform/window.h"
#include "player/core/Player.h"

#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QMenuBar;
class QSocketNotifier;
class QSlider;
class QTimer;
class QToolButton;
class TFileList;
class TVideoPanel;
namespace handoff {
class Receiver;
}

// "%02d:%02d:%02d" of a time in 100 ns units; hours are not wrapped.
std::string FormatTime(std::int64_t time);

// The repeat modes' items, in mode order (0 Single ... 3 Random), with their
// mnemonics; the repeat menus and the button's spoken name share them.
inline constexpr const char* kRepeatModeItems[] = {"&Single", "&Repeat", "&All", "Ra&ndom"};

class TMain : public QMainWindow, public Window {
    Q_OBJECT
public:
    // Creation: builds the window and reads its settings. playListWindow is
    // the window that shows list (may be null).
    TMain(TPlayerCore& core, TFileList& list, QWidget* playListWindow);
    ~TMain() override;

    // Queues an engine message as an event of type QEvent::User + msg.
    void PostMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override;
    VideoWindow* VideoView();

    TPlayerCore& Core() const { return core_; }
    // Once the engine is ready: the core's start (rate, volume, options, the
    // first file), the play list window, stay on top, and the timer.
    void StartPlayer(const std::vector<std::string>& files);
    // Without a display: print the state once a second and close once
    // nothing plays any more.
    void SetHeadless(bool on) { headless_ = on; }
    void SetStatusLines(bool on) { statusLines_ = on; }
    // Writes every setting of the window; the program calls it after the
    // engine session has ended. Runs once.
    void FormDestroy();
    // The close path has run: the window was closed, perhaps while the first
    // folder scan let events run before the message loop began.
    bool Closed() const { return closeDone_; }

    // The window's state.
    int TimeMode = 0;
    int TimeReverse = 0;
    int StayOnTop = 0;
    int Zoom = 100;
    int AutoResize = 0;
    bool FullScreenPending = false;
    bool SeekDragging = false;
    bool RewindHeld = false;
    bool FastForwardHeld = false;
    std::uint32_t TickCount = 0;

    // Commands; those of the player are thin calls into the core.
    void PlayClick();
    void StopClick();
    void PauseClick();
    void TogglePlay();
    void NextClick();
    void PrevClick();
    void OpenFilesClick();
    // Open Files after the dialog: the chosen files replace the list.
    void OpenFileList(const std::vector<std::string>& names);
    void SetRepeatMode(int mode);
    void ShowRepeatMode();
    void UpdatePrevNext();
    void UpdateTimeDisplay();
    void Timer1Timer();
    void ComboBox1Change();
    void RateUp();
    void RateDown();
    void ToolButton13Click();
    void TrackBar1Change();
    void TrackBar2Change();
    void ApplyZoom(int percent);
    void ZoomClick(int percent);
    void AutoClick();
    void ToggleFullScreen();
    void StayOnTopClick();
    void ApplyStayOnTop();
    void SetPlayInfoVisible(bool on);
    void SetPlayControlsVisible(bool on);
    void UpdateMinHeight();
    // The window's own keys, also for keys pressed in the play list window;
    // true when the key was used. Nothing is used while the play list's
    // list view has the focus: the keys are the list's then.
    bool HandleShortcut(int key);
    bool ListViewFocused() const;
    // Asks the play list window whether its list has the focus.
    void SetListFocusQuery(std::function<bool()> query) { listFocused_ = std::move(query); }

    // Menu commands (Menus.cpp).
    void PlayListClick();
    void OptionClick();
    void AboutClick();
    void HelpClick();
    void EditBookmarkClick();
    void AddFilesBookmarkClick();
    void AddDirectoryBookmarkClick();
    // A bookmark item: with shift only appends its files, else plays it.
    void BookmarkClick(int tag, bool shift);
    // Answers second starts from the message loop on; receiver stays owned
    // by the program and outlives the window's use of it (null detaches).
    void SetHandOff(handoff::Receiver* receiver);
    // The height the window adds around its client area (the menu bar).
    int NonClientHeight() const;

    // Components.
    QWidget* Panel4 = nullptr;
    QLabel* StaticText1 = nullptr;
    QLabel* StaticText2 = nullptr;
    QLabel* StaticText3 = nullptr;
    TVideoPanel* Panel2 = nullptr;
    QLabel* Image1 = nullptr;
    QWidget* Panel1 = nullptr;
    QSlider* TrackBar1 = nullptr;
    QSlider* TrackBar2 = nullptr;
    QToolButton* ToolButton1 = nullptr;  // Open Files
    QToolButton* ToolButton2 = nullptr;  // Prev
    QToolButton* ToolButton8 = nullptr;  // Next
    QToolButton* ToolButton15 = nullptr; // Play List
    QToolButton* ToolButton3 = nullptr;  // rewind, held
    QToolButton* ToolButton4 = nullptr;  // Stop
    QToolButton* ToolButton5 = nullptr;  // Pause
    QToolButton* ToolButton6 = nullptr;  // Play
    QToolButton* ToolButton7 = nullptr;  // fast forward, held
    QToolButton* ToolButton11 = nullptr; // repeat mode
    QToolButton* ToolButton13 = nullptr; // mute
    QComboBox* ComboBox1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QMenu* PopupMenu2 = nullptr; // the video panel's
    QMenuBar* MainMenu1 = nullptr;
    QMenu* BookmarkMenu = nullptr;
    QAction* Next1 = nullptr;
    QAction* Prev1 = nullptr;
    QAction* NextChapter1 = nullptr;
    QAction* PrevChapter1 = nullptr;
    QMenu* ChapterMenu = nullptr;
    // What the chapter items were built with: the time mode and the rate
    // of their times, and the item marked as current.
    std::pair<int, double> chapterMenuTimes_{0, 1.0};
    int chapterMenuMark_ = -1;
    QTimer* Timer1 = nullptr;

    // The image index each button shows (its place in the image list).
    int RepeatImageIndex() const { return repeatImage_; }
    int MuteImageIndex() const { return muteImage_; }

signals:
    // The close path has run; the message loop may end.
    void closed();
    // The engine opened a file; name is its short name.
    void fileOpened(const QString& name);
    // The timer's tick has updated what the window shows.
    void ticked();

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void BuildLayout();
    void BuildMenus();
    void BuildListeningMenu(QMenu* play);
    // Shows the play list window with the keyboard's focus.
    void ShowPlayList();
    void UpdateMenus(QMenu* menu);
    // The chapter items: enabled when the open file has chapters; the
    // submenu lists them with their starts, refilled each time it opens.
    void ShowChapters();
    void FillChapterMenu();
    void UpdateChapterMenu();
    std::pair<int, double> ChapterMenuTimes() const;
    void AnswerHandOff();
    void ReadSettings();
    void WriteSettings();
    void FormClose();
    void EngineOpened();
    // What the core reports.
    void ShowRate();
    void ShowVolume();
    // In the info line (StaticText3) while no file is open, or for a few
    // seconds over the one that is.
    void ShowFailure(const QString& text);
    // What the info line says over an open file.
    QString InfoText() const;
    IPlayer* player() const { return core_.Player(); }
    void MoveSeekBar(int delta);
    void HoldButton(QToolButton* button, bool down, int step);
    void SetTransport(bool rewind, bool stop, bool pause, bool play, bool forward);
    bool BelongsHere(QObject* o) const;
    void HeadlessTick(std::int32_t state);

    TPlayerCore& core_;
    TFileList& list_;
    QWidget* playListWindow_;
    std::function<bool()> listFocused_;
    int repeatImage_ = -1;
    int muteImage_ = -1;
    std::uint32_t rewindTag_ = 0;
    std::uint32_t forwardTag_ = 0;
    bool headless_ = false;
    bool statusLines_ = false;
    int idleTicks_ = 0;
    bool seekedSinceRelease_ = false;
    // The seek bar seeks: the core's report of it needs no display.
    bool barSeeking_ = false;
    bool closeDone_ = false;
    QString failure_;
    int failureTicks_ = 0;
    QString openedName_;
    bool destroyed_ = false;
    handoff::Receiver* receiver_ = nullptr;
    QSocketNotifier* handOffNotifier_ = nullptr;
    bool answeringHandOff_ = false;
};
