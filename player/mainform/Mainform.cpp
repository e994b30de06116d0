#include "player/mainform/Mainform.h"
#include "player/mainform/MainAccessible.h"
#include "player/widgets/Accessible.h"

#include "player/widgets/Widgetsupport.h"

#include "platform/profile.h"
#include "player/config/Extention.h"
#include "player/config/Rates.h"
#include "player/config/Tool.h"
#include "player/config/WindowFont.h"
#include "player/list/Filelist.h"
#include "player/mainform/Videopanel.h"
#include "player/widgets/Icons.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cstdio>

namespace {

constexpr int TimeBarHeight = 21;
constexpr int ControlsHeight = 50;
constexpr int DesignWidth = 330;
constexpr int DesignHeight = 328;

QString FromBytes(const std::string& s) {
    return QFile::decodeName(QByteArray::fromStdString(s));
}

// Tells the user of a failure: always on the terminal, and in a box when
// there is a screen to show it on.
void ReportError(QWidget* owner, const std::string& text) {
    std::fprintf(stderr, "zarnplayer: %s\n", text.c_str());
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        QMessageBox::warning(owner, QString::fromLatin1(MainCaption), FromBytes(text));
}

class EngineEvent : public QEvent {
public:
    EngineEvent(std::uint32_t msg, std::uintptr_t w, std::intptr_t l)
        : QEvent(static_cast<QEvent::Type>(QEvent::User + static_cast<int>(msg))), wParam(w),
          lParam(l) {}
    std::uintptr_t wParam;
    std::intptr_t lParam;
};

QToolButton* MakeButton(QWidget* parent, const char* name, int image, const QString& tip) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(ToolImageIcon(image));
    b->setIconSize(QSize(16, 16));
    b->setAutoRaise(true);
    b->setToolTip(tip);
    b->setFixedSize(23, 22);
    // Tab skips the buttons: the window's own keys (Space, Enter, the
    // arrows) reach the player before any control, so a focused button could
    // not be pressed; each one's command has a menu key instead.
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

} // namespace

TMain::TMain(TPlayerCore& core, TFileList& list, QWidget* playListWindow)
    : QMainWindow(nullptr), core_(core), list_(list), playListWindow_(playListWindow) {
    setObjectName(QStringLiteral("Main"));
    setFont(WindowFont(font()));
    InstallAccessibleRoles();
    BuildLayout();
    BuildMenus();
    // 1. The smallest width still shows every play control.
    setMinimumWidth(std::max(DesignWidth, Panel1->minimumSizeHint().width() + 8));
    TickCount = 0;
    setWindowTitle(QString::fromLatin1(MainCaption));
    resize(DesignWidth, DesignHeight);
    // 3. The bars.
    Panel4->setVisible(SettingsStore().ReadInteger("form", "toolbar-playinfo", 1) != 0);
    Panel1->setVisible(SettingsStore().ReadInteger("form", "toolbar-playcontrols", 1) != 0);
    UpdateMinHeight();
    // 4. Placement.
    WidgetPlacement placement(*this);
    SettingsStore().LoadPlacement("Main", placement);
    // 5. The player state.
    ReadSettings();
    // 6. The seek bar's filter, dropped files (the later commands), and the
    // panel repaints itself whole on every resize anyway.
    // One filter for the whole application sees every event before its
    // receiver: the seek bar's, the held buttons', and the window's keys.
    qApp->installEventFilter(this);
    // 7. Nothing open yet.
    StaticText3->setText(QStringLiteral("No File"));
    StaticText1->setText(QStringLiteral("00:00:00"));
    StaticText2->setText(QStringLiteral("00:00:00"));
    SetTransport(false, false, false, false, false);
    FullScreenPending = false;
    ShowRepeatMode();
    UpdatePrevNext();
    connect(&core_, &TPlayerCore::rateChanged, this, &TMain::ShowRate);
    connect(&core_, &TPlayerCore::volumeChanged, this, &TMain::ShowVolume);
    connect(&core_, &TPlayerCore::repeatModeChanged, this, &TMain::ShowRepeatMode);
    connect(&core_, &TPlayerCore::listChanged, this, &TMain::UpdatePrevNext);
    connect(&core_, &TPlayerCore::failed, this, &TMain::ShowFailure);
    connect(&core_, &TPlayerCore::positionChanged, this, [this] {
        if (!barSeeking_)
            UpdateTimeDisplay();
    });
    connect(&core_, &TPlayerCore::finished, this, [this] {
        if (headless_)
            close();
    });
    MakeAccessible(*this);
}

TMain::~TMain() {
    if (qApp)
        qApp->removeEventFilter(this);
    if (!destroyed_) {
        try {
            FormDestroy();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "zarnplayer: %s\n", e.what());
        }
    }
}

void TMain::BuildLayout() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Client"));
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Panel4 = new QWidget(central);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    Panel4->setFixedHeight(TimeBarHeight);
    auto* timeRow = new QHBoxLayout(Panel4);
    timeRow->setContentsMargins(4, 0, 4, 0);
    timeRow->setSpacing(6);
    StaticText1 = new QLabel(Panel4);
    StaticText1->setObjectName(QStringLiteral("StaticText1"));
    StaticText2 = new QLabel(Panel4);
    StaticText2->setObjectName(QStringLiteral("StaticText2"));
    StaticText3 = new QLabel(Panel4);
    StaticText3->setObjectName(QStringLiteral("StaticText3"));
    StaticText3->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* slash = new QLabel(QStringLiteral("/"), Panel4);
    timeRow->addWidget(StaticText1);
    timeRow->addWidget(slash);
    timeRow->addWidget(StaticText2);
    timeRow->addWidget(StaticText3, 1);
    column->addWidget(Panel4);

    // The video area takes no focus: it has no keys of its own.
    Panel2 = new TVideoPanel(*this, central);
    Image1 = Panel2->Image1;
    column->addWidget(Panel2, 1);
    connect(Panel2, &TVideoPanel::resized, this, [this] {
        if (player())
            player()->UpdateVideoWindow();
    });
    connect(Panel2, &TVideoPanel::doubleClicked, this, &TMain::TogglePlay);
    connect(Panel2, &TVideoPanel::leaveFullScreenRequested, this, &TMain::ToggleFullScreen);

    Panel1 = new QWidget(central);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(ControlsHeight);
    auto* rows = new QVBoxLayout(Panel1);
    rows->setContentsMargins(2, 1, 2, 1);
    rows->setSpacing(0);
    auto* seekRow = new QHBoxLayout();
    seekRow->setSpacing(2);
    TrackBar1 = new QSlider(Qt::Horizontal, Panel1);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setRange(0, 512);
    TrackBar1->setPageStep(100);
    TrackBar1->setSingleStep(0);
    TrackBar1->setTickPosition(QSlider::NoTicks);
    TrackBar1->setFixedHeight(22);
    TrackBar2 = new QSlider(Qt::Horizontal, Panel1);
    TrackBar2->setObjectName(QStringLiteral("TrackBar2"));
    TrackBar2->setRange(0, 100);
    TrackBar2->setTickPosition(QSlider::NoTicks);
    TrackBar2->setFixedSize(60, 22);
    ToolButton13 = MakeButton(Panel1, "ToolButton13", 0, tr("Mute"));
    ToolButton13->setIcon(MuteImageIcon(0));
    seekRow->addWidget(TrackBar1, 1);
    seekRow->addWidget(ToolButton13);
    seekRow->addWidget(TrackBar2);
    rows->addLayout(seekRow);

    auto* toolRow = new QHBoxLayout();
    toolRow->setSpacing(0);
    ToolButton1 = MakeButton(Panel1, "ToolButton1", ImageOpen, tr("Open Files"));
    ToolButton2 = MakeButton(Panel1, "ToolButton2", ImagePrev, tr("Prev"));
    ToolButton8 = MakeButton(Panel1, "ToolButton8", ImageNext, tr("Next"));
    ToolButton15 = MakeButton(Panel1, "ToolButton15", ImagePlayList, tr("Play List"));
    ToolButton3 = MakeButton(Panel1, "ToolButton3", ImageRewind, tr("Rewind"));
    ToolButton4 = MakeButton(Panel1, "ToolButton4", ImageStop, tr("Stop"));
    ToolButton5 = MakeButton(Panel1, "ToolButton5", ImagePause, tr("Pause"));
    ToolButton6 = MakeButton(Panel1, "ToolButton6", ImagePlay, tr("Play"));
    ToolButton7 = MakeButton(Panel1, "ToolButton7", ImageForward, tr("Fast Forward"));
    ToolButton11 = MakeButton(Panel1, "ToolButton11", ImageRepeatOne, tr("Repeat"));
    ToolButton11->setFixedSize(34, 22);
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    for (int i = 0; i < 4; ++i) {
        QAction* a =
            PopupMenu1->addAction(tr(kRepeatModeItems[i]), this, [this, i] { SetRepeatMode(i); });
        a->setCheckable(true);
        a->setData(i);
    }
    connect(PopupMenu1, &QMenu::aboutToShow, this, [this] {
        for (QAction* a : PopupMenu1->actions())
            a->setChecked(a->data().toInt() == core_.RepeatMode);
    });
    ToolButton11->setMenu(PopupMenu1);
    ToolButton11->setPopupMode(QToolButton::MenuButtonPopup);
    ComboBox1 = new QComboBox(Panel1);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(false);
    ComboBox1->setMaxVisibleItems(10);
    for (const char* r : rates::kTexts)
        ComboBox1->addItem(QString::fromLatin1(r));
    ComboBox1->setFixedHeight(22);
    // Skipped by Tab as the buttons are: Page Up and Down change the rate
    // wherever the focus is.
    ComboBox1->setFocusPolicy(Qt::NoFocus);
    for (QToolButton* b : {ToolButton1, ToolButton2, ToolButton8, ToolButton15, ToolButton3,
                           ToolButton4, ToolButton5, ToolButton6, ToolButton7, ToolButton11})
        toolRow->addWidget(b);
    toolRow->addSpacing(2);
    toolRow->addWidget(ComboBox1);
    toolRow->addStretch(1);
    rows->addLayout(toolRow);
    column->addWidget(Panel1);
    setCentralWidget(central);

    connect(ToolButton1, &QToolButton::clicked, this, &TMain::OpenFilesClick);
    connect(ToolButton2, &QToolButton::clicked, this, &TMain::PrevClick);
    connect(ToolButton8, &QToolButton::clicked, this, &TMain::NextClick);
    connect(ToolButton15, &QToolButton::clicked, this, [this] {
        if (playListWindow_)
            ShowPlayList();
    });
    connect(ToolButton4, &QToolButton::clicked, this, &TMain::StopClick);
    connect(ToolButton5, &QToolButton::clicked, this, &TMain::PauseClick);
    connect(ToolButton6, &QToolButton::clicked, this, &TMain::PlayClick);
    connect(ToolButton11, &QToolButton::clicked, this,
            [this] { SetRepeatMode((core_.RepeatMode + 1) % 4); });
    connect(ToolButton13, &QToolButton::clicked, this, &TMain::ToolButton13Click);
    connect(ComboBox1, &QComboBox::activated, this, &TMain::ComboBox1Change);
    connect(TrackBar1, &QSlider::valueChanged, this, &TMain::TrackBar1Change);
    connect(TrackBar2, &QSlider::valueChanged, this, &TMain::TrackBar2Change);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(200);
    connect(Timer1, &QTimer::timeout, this, &TMain::Timer1Timer);
}

void TMain::ReadSettings() {
    TTool& s = SettingsStore();
    StayOnTop = s.ReadInteger("form", "stayontop", 0);
    TimeReverse = s.ReadInteger("player", "time-reverse", 0);
    TimeMode = s.ReadInteger("player", "time-mode", 0);
    Zoom = s.ReadInteger("player", "zoom", 100);
    AutoResize = s.ReadInteger("player", "auto-resize", 0);
}

void TMain::WriteSettings() {
    TTool& s = SettingsStore();
    s.WriteInteger("form", "stayontop", StayOnTop);
    core_.WriteSettings();
    s.WriteInteger("player", "time-reverse", TimeReverse);
    s.WriteInteger("player", "time-mode", TimeMode);
    s.WriteInteger("player", "zoom", Zoom);
    s.WriteInteger("player", "auto-resize", AutoResize);
    s.WriteInteger("form", "toolbar-playinfo", Panel4->isHidden() ? 0 : 1);
    s.WriteInteger("form", "toolbar-playcontrols", Panel1->isHidden() ? 0 : 1);
    WidgetPlacement placement(*this);
    s.SavePlacement("Main", placement);
}

void TMain::FormDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    Timer1->stop();
    try {
        WriteSettings();
    } catch (const profile::Error& e) {
        ReportError(this, std::string("The settings could not be saved: ") + e.what());
    }
}

VideoWindow* TMain::VideoView() {
    return Panel2;
}

void TMain::PostMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
    if (msg > static_cast<std::uint32_t>(QEvent::MaxUser - QEvent::User))
        return;
    QCoreApplication::postEvent(this, new EngineEvent(msg, wParam, lParam));
}

bool TMain::event(QEvent* e) {
    const int type = static_cast<int>(e->type());
    if (type >= QEvent::User + static_cast<int>(WM_PLAYER_EVENT) &&
        type <= QEvent::User + static_cast<int>(WM_PLAYER_COMPLETE) &&
        dynamic_cast<EngineEvent*>(e)) {
        auto* ev = static_cast<EngineEvent*>(e);
        if (!player())
            return true;
        switch (static_cast<std::uint32_t>(type - QEvent::User)) {
        case WM_PLAYER_EVENT:
            player()->HandleEvent();
            break;
        case WM_PLAYER_OPENED:
            EngineOpened();
            break;
        case WM_PLAYER_CLOSED:
            FullScreenPending = ev->wParam != 0;
            Image1->show();
            Panel2->update();
            break;
        case WM_PLAYER_COMPLETE:
            if (ev->wParam != 0) {
                core_.HandlePlaybackFailure();
            } else {
                UpdateTimeDisplay();
                core_.HandleEndOfStream();
            }
            break;
        }
        return true;
    }
    return QMainWindow::event(e);
}

void TMain::EngineOpened() {
    openedName_ = FromBytes(std::string(FileNamePart(core_.Opened())));
    if (failureTicks_ == 0) {
        failure_.clear();
        StaticText3->setText(InfoText());
    }
    if (!player()->IsAudioOnly())
        Image1->hide();
    Panel2->update();
    ApplyStayOnTop();
    if (AutoResize)
        ApplyZoom(Zoom);
    if (FullScreenPending)
        ToggleFullScreen();
    emit fileOpened(openedName_);
}

// --- Transport ---------------------------------------------------------

void TMain::PlayClick() {
    core_.Play();
}

void TMain::StopClick() {
    core_.Stop();
}

void TMain::PauseClick() {
    core_.Pause();
}

void TMain::TogglePlay() {
    core_.TogglePlay();
}

void TMain::NextClick() {
    core_.Next();
}

void TMain::PrevClick() {
    core_.Prev();
}

void TMain::OpenFilesClick() {
    QStringList filters;
    for (const std::string& choice : TExtentions::FilterChoices())
        filters << QString::fromStdString(choice);
    QFileDialog dialog(this);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setNameFilters(filters);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted)
        return;
    std::vector<std::string> names;
    for (const QString& f : dialog.selectedFiles())
        names.push_back(QFile::encodeName(f).toStdString());
    OpenFileList(names);
}

void TMain::OpenFileList(const std::vector<std::string>& names) {
    core_.OpenFileList(names);
}

void TMain::SetRepeatMode(int mode) {
    core_.SetRepeatMode(mode);
}

void TMain::ShowRepeatMode() {
    repeatImage_ = core_.RepeatMode + 8;
    ToolButton11->setIcon(ToolImageIcon(repeatImage_));
    const char* names[] = {"Single", "Repeat", "All", "Random"};
    ToolButton11->setToolTip(tr("Repeat: %1").arg(tr(names[core_.RepeatMode & 3])));
}

void TMain::UpdatePrevNext() {
    const bool many = list_.Count() > 1;
    ToolButton2->setEnabled(many);
    ToolButton8->setEnabled(many);
    Prev1->setEnabled(many);
    Next1->setEnabled(many);
}

// --- Rate, volume, seek ------------------------------------------------

void TMain::ComboBox1Change() {
    core_.SetRateIndex(ComboBox1->currentIndex());
}

void TMain::RateUp() {
    core_.RateUp();
}

void TMain::RateDown() {
    core_.RateDown();
}

void TMain::ShowRate() {
    ComboBox1->setEnabled(core_.RateEnabled());
    ComboBox1->setCurrentIndex(core_.RateIndex());
}

void TMain::TrackBar2Change() {
    core_.SetVolume(TrackBar2->value());
}

void TMain::ToolButton13Click() {
    core_.ToggleMute();
}

void TMain::ShowVolume() {
    const QSignalBlocker quiet(TrackBar2);
    TrackBar2->setValue(core_.Volume);
    muteImage_ = core_.Mute;
    ToolButton13->setIcon(MuteImageIcon(core_.Mute));
    ToolButton13->setToolTip(core_.Mute ? tr("Sound off") : tr("Sound on"));
}

void TMain::TrackBar1Change() {
    if (SeekDragging || !player())
        return;
    barSeeking_ = true;
    core_.SeekTo(static_cast<std::int64_t>(static_cast<double>(core_.Duration()) * (1.0 / 512) *
                                           TrackBar1->value()));
    barSeeking_ = false;
    // The release's own closing seek is then not needed.
    seekedSinceRelease_ = true;
}

void TMain::MoveSeekBar(int delta) {
    TrackBar1->setValue(TrackBar1->value() + delta);
}

void TMain::HoldButton(QToolButton* button, bool down, int step) {
    const bool rewind = button == ToolButton3;
    if (down) {
        MoveSeekBar(step);
        (rewind ? RewindHeld : FastForwardHeld) = true;
        (rewind ? rewindTag_ : forwardTag_) = TickCount;
    } else {
        (rewind ? RewindHeld : FastForwardHeld) = false;
    }
}

// --- View --------------------------------------------------------------

int TMain::NonClientHeight() const {
    QWidget* menu = menuWidget();
    return menu && !menu->isHidden() ? menu->sizeHint().height() : 0;
}

void TMain::ApplyZoom(int percent) {
    if (!player() || player()->IsFullScreen())
        return;
    std::int32_t w = 0, h = 0;
    player()->GetVideoSize(&w, &h);
    if (w == 0 || h == 0)
        return;
    const int clientWidth = w * percent / 100 + 2;
    const int clientHeight = h * percent / 100 + (Panel4->isHidden() ? 0 : Panel4->height()) +
                             (Panel1->isHidden() ? 0 : Panel1->height()) + 2;
    resize(clientWidth, clientHeight + NonClientHeight());
}

void TMain::ZoomClick(int percent) {
    ApplyZoom(percent);
    Zoom = percent;
}

void TMain::AutoClick() {
    AutoResize = AutoResize ? 0 : 1;
    if (AutoResize)
        ApplyZoom(Zoom);
}

void TMain::ToggleFullScreen() {
    if (player())
        player()->ToggleFullScreen();
}

void TMain::StayOnTopClick() {
    if (player() && player()->IsFullScreen())
        return;
    StayOnTop = StayOnTop ? 0 : 1;
    ApplyStayOnTop();
}

void TMain::ApplyStayOnTop() {
    const bool on = StayOnTop != 0;
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) != on) {
        const bool shown = isVisible();
        const QRect frame = geometry();
        setAttribute(Qt::WA_ShowWithoutActivating, true);
        setWindowFlag(Qt::WindowStaysOnTopHint, on);
        setGeometry(frame);
        if (shown)
            show();
        setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
    TTool::HideTrackBarSelection(TrackBar1);
    TTool::HideTrackBarSelection(TrackBar2);
}

void TMain::SetPlayInfoVisible(bool on) {
    if (Panel4->isHidden() != on)
        return;
    setMinimumHeight(0);
    Panel4->setVisible(on);
    resize(width(), height() + (on ? TimeBarHeight : -TimeBarHeight));
    UpdateMinHeight();
}

void TMain::SetPlayControlsVisible(bool on) {
    if (Panel1->isHidden() != on)
        return;
    setMinimumHeight(0);
    // A hidden bar keeps no focus: its keys would act unseen, and the
    // window's own keys go to the window again.
    if (!on && Panel1->isAncestorOf(QApplication::focusWidget()))
        QApplication::focusWidget()->clearFocus();
    Panel1->setVisible(on);
    resize(width(), height() + (on ? ControlsHeight : -ControlsHeight));
    UpdateMinHeight();
}

void TMain::UpdateMinHeight() {
    setMinimumHeight(NonClientHeight() + (Panel4->isHidden() ? 0 : TimeBarHeight) +
                     (Panel1->isHidden() ? 0 : ControlsHeight));
}

// --- Keys, mouse and the seek bar's filter -----------------------------

bool TMain::HandleShortcut(int key) {
    if (ListViewFocused())
        return false;
    switch (key) {
    case Qt::Key_Space:
        TogglePlay();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        ToggleFullScreen();
        return true;
    case Qt::Key_Left:
        MoveSeekBar(-8);
        return true;
    case Qt::Key_Right:
        MoveSeekBar(8);
        return true;
    case Qt::Key_Up:
        core_.SetVolume(core_.Volume + 8);
        return true;
    case Qt::Key_Down:
        core_.SetVolume(core_.Volume - 8);
        return true;
    case Qt::Key_PageDown:
        RateDown();
        return true;
    case Qt::Key_PageUp:
        RateUp();
        return true;
    case Qt::Key_M:
        // The mute button's key: the button itself is no tab stop.
        ToolButton13Click();
        return true;
    default:
        return false;
    }
}

bool TMain::BelongsHere(QObject* o) const {
    auto* w = qobject_cast<QWidget*>(o);
    if (!w)
        return false;
    QWidget* top = w->window();
    return top == this || (Panel2 && top == Panel2->FullScreenView());
}

bool TMain::eventFilter(QObject* watched, QEvent* e) {
    const QEvent::Type type = e->type();
    // Every key in this window (and the full-screen view) passes here before
    // the focused control sees it; a key we use goes no further.
    if (type == QEvent::KeyPress && BelongsHere(watched) &&
        HandleShortcut(static_cast<QKeyEvent*>(e)->key()))
        return true;
    if (watched == TrackBar1) {
        // The arrow keys up and down are the volume's, never the bar's.
        if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key == Qt::Key_Up || key == Qt::Key_Down)
                return true;
        }
        if (type == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton)
            SeekDragging = true;
        if (type == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
            SeekDragging = false;
            // The bar's closing notification: once the bar has taken the
            // release, seek to where the thumb stands unless the release
            // itself moved the bar (and so seeked already).
            seekedSinceRelease_ = false;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (!seekedSinceRelease_)
                        TrackBar1Change();
                },
                Qt::QueuedConnection);
        }
    }
    if (watched == ToolButton3 || watched == ToolButton7) {
        auto* button = static_cast<QToolButton*>(watched);
        const int step = watched == ToolButton3 ? -1 : 1;
        if (type == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton && button->isEnabled())
            HoldButton(button, true, step);
        else if (type == QEvent::MouseButtonRelease)
            HoldButton(button, false, step);
    }
    if ((watched == StaticText1 || watched == StaticText2) && type == QEvent::MouseButtonPress) {
        TimeMode = TimeMode ? 0 : 1;
        return true;
    }
    if (type == QEvent::Wheel && BelongsHere(watched)) {
        auto* w = static_cast<QWheelEvent*>(e);
        if (w->angleDelta().y() < 0)
            RateDown();
        else
            RateUp();
        return true;
    }
    return QMainWindow::eventFilter(watched, e);
}

// --- Life cycle --------------------------------------------------------

void TMain::StartPlayer(const std::vector<std::string>& files) {
    if (const std::string why = profile::ReadFailure(SettingsStore().FileName()); !why.empty())
        ReportError(this, "The settings in " + SettingsStore().FileName() + " cannot be read (" +
                              why + "): the defaults are used and the file is left as it is");
    // 1 to 4: rate, volume, options and the first file.
    core_.Start(files);
    // Closed while the folder scan let events run: nothing starts.
    if (closeDone_)
        return;
    // 5. The play list window.
    if (playListWindow_)
        playListWindow_->setVisible(SettingsStore().ReadInteger("playlistform", "visible", 0) != 0);
    // 6, 7.
    ApplyStayOnTop();
    Timer1->start();
}

void TMain::FormClose() {
    Timer1->stop();
    try {
        core_.SaveResumePoint();
        SettingsStore().WriteInteger("playlistform", "visible",
                                     playListWindow_ && playListWindow_->isVisible() ? 1 : 0);
    } catch (const profile::Error& e) {
        ReportError(this,
                    std::string("The resume point or the positions of files could not be saved: ") +
                        e.what());
    }
    ClosingFlag = true;
}

void TMain::closeEvent(QCloseEvent* e) {
    if (!closeDone_) {
        closeDone_ = true;
        FormClose();
    }
    e->accept();
    emit closed();
}
