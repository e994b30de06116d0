// The main window's tick: five times a second the time display, the seek
// bar, the transport buttons and the info line follow the engine's state,
// held seek buttons step, and without a screen a status line is printed.
#include "player/mainform/Mainform.h"

#include "player/config/Tool.h"
#include "player/config/WindowColours.h"

#include <QFile>
#include <QLabel>
#include <QSlider>
#include <QToolButton>

#include <cstdio>

std::string FormatTime(std::int64_t time) {
    const long long c = time / 100000;
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", c / 360000, (c / 6000) % 60,
                  (c / 100) % 60);
    return text;
}

QString TMain::InfoText() const {
    QString text = openedName_;
    const std::string chapter = core_.CurrentChapterText();
    if (!chapter.empty())
        text += QStringLiteral(" \u2014 ") + QString::fromUtf8(chapter);
    if (const auto left = core_.SleepLeft())
        text += QStringLiteral("  ") + QString::fromStdString(SleepTimer::LeftText(*left));
    return text;
}

void TMain::ShowFailure(const QString& text) {
    failure_ = text;
    // Five seconds at the timer's pace.
    failureTicks_ = 25;
    StaticText3->setText(failure_);
}

void TMain::UpdateTimeDisplay() {
    if (!player())
        return;
    std::int64_t position = 0, duration = 0;
    player()->GetTimes(&position, &duration);
    if (duration == 0)
        duration = 1;
    if (!SeekDragging) {
        SeekDragging = true;
        TrackBar1->setValue(static_cast<int>(static_cast<double>(position) * 512.0 /
                                             static_cast<double>(duration)));
        SeekDragging = false;
    } else {
        position =
            static_cast<std::int64_t>(static_cast<double>(duration) * TrackBar1->value() / 512.0);
    }
    if (TimeReverse)
        position = duration - position;
    const double rate = core_.RateValue();
    if (TimeMode)
        position = static_cast<std::int64_t>(static_cast<double>(position) / rate);
    StaticText1->setText(QString::fromStdString(FormatTime(position)));
    if (TimeMode)
        duration = static_cast<std::int64_t>(static_cast<double>(duration) / rate);
    StaticText2->setText(QString::fromStdString(FormatTime(duration)));
}

void TMain::SetTransport(bool rewind, bool stop, bool pause, bool play, bool forward) {
    ToolButton3->setEnabled(rewind);
    ToolButton4->setEnabled(stop);
    ToolButton5->setEnabled(pause);
    ToolButton6->setEnabled(play);
    ToolButton7->setEnabled(forward);
    // A disabled button sends no release, so it holds no more.
    if (!rewind)
        RewindHeld = false;
    if (!forward)
        FastForwardHeld = false;
}

void TMain::Timer1Timer() {
    TickCount =
        static_cast<std::uint32_t>((static_cast<std::uint64_t>(TickCount) + 1) % 4294967295u);
    if (!player())
        return;
    std::int32_t state = 0;
    player()->GetState(&state);
    if (state == PLAYER_PLAYING || state == PLAYER_PAUSED)
        UpdateTimeDisplay();
    // A failure stays in the info line while nothing is open; over an open
    // file only for its few seconds.
    const bool open = state == PLAYER_STOPPED || state == PLAYER_PAUSED || state == PLAYER_PLAYING;
    if (failureTicks_ > 0 && --failureTicks_ == 0 && open)
        failure_.clear();
    if (open && failure_.isEmpty() && StaticText3->text() != InfoText())
        StaticText3->setText(InfoText());
    // Virtual Time shows in red, as dark or light as the ground needs to read.
    const QColor timeColour =
        TimeMode ? ReadableOn(QColor(Qt::red), palette().color(QPalette::Window), 4.5)
                 : palette().color(QPalette::WindowText);
    for (QLabel* l : {StaticText1, StaticText2}) {
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, timeColour);
        l->setPalette(pal);
    }
    switch (state) {
    case PLAYER_STOPPED: {
        StaticText1->setText(QStringLiteral("00:00:00"));
        // Moving the bar must not seek; a thumb the user holds stays held.
        const bool held = SeekDragging;
        SeekDragging = true;
        TrackBar1->setValue(0);
        SeekDragging = held;
        SetTransport(false, false, false, true, false);
        break;
    }
    case PLAYER_PAUSED:
        SetTransport(true, true, false, true, true);
        break;
    case PLAYER_PLAYING:
        SetTransport(true, true, true, false, true);
        break;
    default:
        StaticText3->setText(failure_.isEmpty() ? QStringLiteral("No File") : failure_);
        StaticText1->setText(QStringLiteral("00:00:00"));
        StaticText2->setText(QStringLiteral("00:00:00"));
        SetTransport(false, false, false, false, false);
        break;
    }
    player()->Tick();
    TTool::HideTrackBarSelection(TrackBar1);
    TTool::HideTrackBarSelection(TrackBar2);
    if (RewindHeld &&
        static_cast<std::int32_t>(rewindTag_) < static_cast<std::int32_t>(TickCount)) {
        MoveSeekBar(-8);
        rewindTag_ = TickCount;
    }
    if (FastForwardHeld &&
        static_cast<std::int32_t>(forwardTag_) < static_cast<std::int32_t>(TickCount)) {
        MoveSeekBar(8);
        forwardTag_ = TickCount;
    }
    if (headless_ || statusLines_)
        HeadlessTick(state);
    emit ticked();
}

void TMain::HeadlessTick(std::int32_t state) {
    if (TickCount % 5 == 0 && (state == PLAYER_PLAYING || state == PLAYER_PAUSED))
        // The file's name even while the info line still tells of a failure.
        std::printf("%s  %s / %s  rate %s\n", QFile::encodeName(openedName_).constData(),
                    StaticText1->text().toLatin1().constData(),
                    StaticText2->text().toLatin1().constData(), core_.RateText.c_str());
    std::fflush(stdout);
    if (!headless_)
        return;
    // Nobody can press Play without a screen: two seconds without playing
    // means the list has ended.
    idleTicks_ = state == PLAYER_PLAYING ? 0 : idleTicks_ + 1;
    if (idleTicks_ >= 10)
        close();
}
