#include "Fixture.h"
#include "player/config/WindowColours.h"

#include "player/mainform/MainAccessible.h"
#include "player/mainform/Videopanel.h"
#include "player/widgets/Icons.h"
#include "tests/CommaLocale.h"

#include <QAccessible>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QSlider>
#include <QStyle>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <thread>

namespace {

constexpr std::int64_t Second = 10000000;

void Wheel(QWidget* target, int delta) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent e(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &e);
}

std::string Text(QLabel* l) {
    return l->text().toStdString();
}

} // namespace

// --- Rate ---------------------------------------------------------------

TEST_F(WindowTest, RateListHoldsTheEighteenRatesFastestFirst) {
    TMain& m = Create();
    const char* expected[] = {"4.0", "3.5", "3.0", "2.8", "2.6", "2.4", "2.2", "2.0", "1.9",
                              "1.8", "1.7", "1.6", "1.5", "1.4", "1.3", "1.2", "1.1", "1.0"};
    ASSERT_EQ(m.ComboBox1->count(), 18);
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(m.ComboBox1->itemText(i).toStdString(), expected[i]) << i;
    EXPECT_FALSE(m.ComboBox1->isEditable());
    EXPECT_EQ(m.ComboBox1->maxVisibleItems(), 10);
}

TEST_F(WindowTest, StoredRateIsSentAtStartAndAnUnknownOneBecomesOnePointZero) {
    Setting("player", "rate", "2.4");
    Create().StartPlayer({});
    EXPECT_EQ(main->ComboBox1->currentText().toStdString(), "2.4");
    EXPECT_TRUE(player.Has("SetRate(2.4)"));
    Quit();

    Setting("player", "rate", "1.05");
    player.calls.clear();
    Create().StartPlayer({});
    EXPECT_EQ(core->RateText, "1.0");
    EXPECT_EQ(main->ComboBox1->currentIndex(), 17);
    EXPECT_EQ(player.With("SetRate"), std::vector<std::string>{"SetRate(1.0)"});
}

// Qt puts the program under the user's locale; a decimal comma there must
// not turn "1.5" into 1 nor "2.6" into 2.
TEST_F(WindowTest, RatesReadTheSameUnderADecimalCommaLocale) {
    zarntest::CommaLocale comma;
    ASSERT_TRUE(comma.Active()) << "de_DE.UTF-8 could not be generated (package locales)";
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    struct RestoreQtLocale {
        ~RestoreQtLocale() { QLocale::setDefault(QLocale::c()); }
    } restore;

    Setting("player", "rate", "1.5");
    TMain& m = Create();
    m.StartPlayer({});
    EXPECT_EQ(player.With("SetRate"), std::vector<std::string>{"SetRate(1.5)"});

    // Virtual Time divides by the chosen rate.
    m.ComboBox1->setCurrentText(QStringLiteral("2.6"));
    m.ComboBox1Change();
    EXPECT_EQ(player.With("SetRate").back(), "SetRate(2.6)");
    player.state = PLAYER_PLAYING;
    player.duration = 260 * Second;
    player.position = 130 * Second;
    m.TimeMode = 1;
    m.UpdateTimeDisplay();
    EXPECT_EQ(Text(m.StaticText1), "00:00:50");
    EXPECT_EQ(Text(m.StaticText2), "00:01:40");
}

TEST_F(WindowTest, RateUpAndDownStepAndStopAtTheEnds) {
    Setting("player", "rate", "4.0");
    TMain& m = Started();
    m.RateUp();
    EXPECT_TRUE(player.calls.empty());
    EXPECT_EQ(core->RateText, "4.0");
    m.RateDown();
    EXPECT_EQ(core->RateText, "3.5");
    EXPECT_EQ(player.With("SetRate"), std::vector<std::string>{"SetRate(3.5)"});

    m.ComboBox1->setCurrentIndex(17);
    m.ComboBox1Change();
    player.calls.clear();
    m.RateDown();
    EXPECT_TRUE(player.calls.empty());
    EXPECT_EQ(core->RateText, "1.0");
    m.RateUp();
    EXPECT_EQ(core->RateText, "1.1");
}

TEST_F(WindowTest, WheelAndPageKeysChangeTheRateExceptForWindowsMedia) {
    Setting("player", "rate", "2.0");
    TMain& m = Started();
    Wheel(m.Panel2, 120);
    EXPECT_EQ(core->RateText, "2.2");
    Wheel(m.TrackBar1, -120); // over a slider it is still the rate
    EXPECT_EQ(core->RateText, "2.0");
    EXPECT_EQ(m.TrackBar1->value(), 0);
    QTest::keyClick(&m, Qt::Key_PageUp);
    EXPECT_EQ(core->RateText, "2.2");
    QTest::keyClick(&m, Qt::Key_PageDown);
    EXPECT_EQ(core->RateText, "2.0");

    core->OpenAndPlay(Media("talk.WMA"));
    EXPECT_TRUE(player.Has("SetRate(1.0)"));
    EXPECT_FALSE(m.ComboBox1->isEnabled());
    player.calls.clear();
    Wheel(m.Panel2, 120);
    QTest::keyClick(&m, Qt::Key_PageUp);
    QTest::keyClick(&m, Qt::Key_PageDown);
    EXPECT_TRUE(player.With("SetRate").empty());
    EXPECT_EQ(core->RateText, "2.0");

    // The next file of another type gets the chosen rate back.
    core->OpenAndPlay(Media("talk.mp3"));
    EXPECT_TRUE(player.Has("SetRate(2.0)"));
    EXPECT_TRUE(m.ComboBox1->isEnabled());
}

// --- Volume and mute ----------------------------------------------------

TEST_F(WindowTest, VolumeLevelFollowsTheCubicFormula) {
    EXPECT_EQ(VolumeLevel(100, false), 0);
    EXPECT_EQ(VolumeLevel(90, false), -10);
    EXPECT_EQ(VolumeLevel(75, false), -156);
    EXPECT_EQ(VolumeLevel(50, false), -1250);
    EXPECT_EQ(VolumeLevel(25, false), -4218);
    EXPECT_EQ(VolumeLevel(0, false), -10000);
    EXPECT_EQ(VolumeLevel(100, true), -10000);
}

TEST_F(WindowTest, MuteSilencesAndMovingTheBarWhileMutedIsAudible) {
    Setting("player", "volume", 75);
    Create().StartPlayer({});
    EXPECT_EQ(player.With("SetVolume").back(), "SetVolume(-156)");
    TMain& m = *main;
    player.calls.clear();

    QTest::mouseClick(m.ToolButton13, Qt::LeftButton);
    EXPECT_EQ(core->Mute, 1);
    EXPECT_EQ(m.MuteImageIndex(), 1);
    EXPECT_EQ(player.With("SetVolume"), std::vector<std::string>{"SetVolume(-10000)"});

    m.TrackBar2->setValue(50);
    EXPECT_EQ(player.With("SetVolume").back(), "SetVolume(-1250)");
    EXPECT_EQ(core->Mute, 1); // flag and image stay as they were
    EXPECT_EQ(m.MuteImageIndex(), 1);

    QTest::keyClick(&m, Qt::Key_Up);
    EXPECT_EQ(core->Volume, 58);
    m.TrackBar2->setValue(96);
    QTest::keyClick(&m, Qt::Key_Up);
    EXPECT_EQ(core->Volume, 100); // clamped
    m.TrackBar2->setValue(0);
    EXPECT_EQ(player.With("SetVolume").back(), "SetVolume(-10000)");
}

// The mute button takes no focus (Space is the player's); M is its key,
// wherever the focus is in the window.
TEST_F(WindowTest, TheMKeyMutesAndUnmutes) {
    TMain& m = Started();
    QTest::keyClick(&m, Qt::Key_M);
    EXPECT_EQ(core->Mute, 1);
    EXPECT_EQ(m.MuteImageIndex(), 1);
    m.TrackBar1->setFocus();
    QTest::keyClick(m.TrackBar1, Qt::Key_M);
    EXPECT_EQ(core->Mute, 0);
}

// --- Seek ---------------------------------------------------------------

TEST_F(WindowTest, DraggingAStoppedFileEndsPausedAndPositioned) {
    TMain& m = Started();
    player.state = PLAYER_STOPPED;
    player.duration = 512 * Second;
    QSlider* bar = m.TrackBar1;
    const QPoint from(4, bar->height() / 2);
    const QPoint to(bar->width() * 3 / 4, bar->height() / 2);
    QTest::mousePress(bar, Qt::LeftButton, {}, from);
    EXPECT_TRUE(m.SeekDragging);
    QMouseEvent move(QEvent::MouseMove, to, bar->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    EXPECT_TRUE(player.calls.empty()) << "no seek while the thumb is held";
    QTest::mouseRelease(bar, Qt::LeftButton, {}, to);
    QApplication::processEvents();
    EXPECT_FALSE(m.SeekDragging);
    ASSERT_GT(bar->value(), 0);
    const std::int64_t target =
        static_cast<std::int64_t>(512.0 * Second * (1.0 / 512) * bar->value());
    EXPECT_EQ(player.calls, (std::vector<std::string>{
                                "Play", "Pause", "SetPosition(" + std::to_string(target) + ")"}));
    EXPECT_EQ(player.state, PLAYER_PAUSED);
}

// Each release seeks once, whether the thumb moved while held (a bar that
// follows the mouse) or only on the release (a bar without tracking).
TEST_F(WindowTest, EachReleaseOfTheSeekBarSeeksOnce) {
    TMain& m = Started();
    player.state = PLAYER_PLAYING;
    player.duration = 512 * Second;
    QSlider* bar = m.TrackBar1;
    auto drag = [&](int x) {
        // The thumb's middle, where a press takes hold of it.
        const int length = bar->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, bar);
        const QPoint from(
            QStyle::sliderPositionFromValue(0, 512, bar->value(), bar->width() - length) +
                length / 2,
            bar->height() / 2);
        const QPoint to(x, bar->height() / 2);
        QTest::mousePress(bar, Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, to, bar->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(bar, &move);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, to);
        QApplication::processEvents();
    };
    for (bool tracking : {true, false}) {
        bar->setTracking(tracking);
        for (int x : {bar->width() / 4, bar->width() * 3 / 4, bar->width() / 2}) {
            player.calls.clear();
            const int before = bar->value();
            drag(x);
            ASSERT_NE(bar->value(), before) << "tracking " << tracking << ", x " << x;
            EXPECT_EQ(player.With("SetPosition"),
                      std::vector<std::string>{"SetPosition(" +
                                               std::to_string(bar->value() * Second) + ")"})
                << "tracking " << tracking << ", x " << x;
        }
    }
}

TEST_F(WindowTest, ArrowKeysSeekByEightAndNeverMoveTheBarUpOrDown) {
    TMain& m = Started();
    player.state = PLAYER_PLAYING;
    player.duration = 512 * Second;
    m.TrackBar1->setFocus();
    QTest::keyClick(m.TrackBar1, Qt::Key_Right);
    EXPECT_EQ(m.TrackBar1->value(), 8);
    EXPECT_EQ(player.With("SetPosition"), std::vector<std::string>{"SetPosition(80000000)"});
    m.TrackBar2->setValue(50);
    QTest::keyClick(m.TrackBar1, Qt::Key_Up);
    EXPECT_EQ(core->Volume, 58) << "Up is the volume's even on the seek bar";
    QTest::keyClick(m.TrackBar1, Qt::Key_Down);
    QTest::keyClick(m.TrackBar1, Qt::Key_Down);
    EXPECT_EQ(core->Volume, 42);
    EXPECT_EQ(m.TrackBar1->value(), 8);
    QTest::keyClick(m.TrackBar1, Qt::Key_Left);
    player.calls.clear();
    QTest::keyClick(m.TrackBar1, Qt::Key_Left); // at 0 already: no second seek
    EXPECT_TRUE(player.With("SetPosition").empty());
}

TEST_F(WindowTest, HeldButtonsSeekEightPerTickFromTheTickAfterThePress) {
    TMain& m = Started();
    player.state = PLAYER_PLAYING;
    player.duration = 512 * Second;
    player.position = 200 * Second;
    m.Timer1Timer(); // enables the buttons, bar to 200
    ASSERT_TRUE(m.ToolButton7->isEnabled());
    ASSERT_EQ(m.TrackBar1->value(), 200);
    auto hold = [&](QToolButton* b) { QTest::mousePress(b, Qt::LeftButton); };

    hold(m.ToolButton7);
    EXPECT_EQ(m.TrackBar1->value(), 201);
    EXPECT_TRUE(m.FastForwardHeld);
    // The engine follows the seeks, so the display keeps the bar where it is.
    auto tick = [&] {
        player.position = static_cast<std::int64_t>(m.TrackBar1->value()) * Second;
        m.Timer1Timer();
    };
    tick();
    EXPECT_EQ(m.TrackBar1->value(), 209);
    tick();
    EXPECT_EQ(m.TrackBar1->value(), 217);
    QTest::mouseRelease(m.ToolButton7, Qt::LeftButton);
    tick();
    EXPECT_EQ(m.TrackBar1->value(), 217);

    hold(m.ToolButton3);
    EXPECT_EQ(m.TrackBar1->value(), 216);
    tick();
    EXPECT_EQ(m.TrackBar1->value(), 208);
    QTest::mouseRelease(m.ToolButton3, Qt::LeftButton);
    EXPECT_EQ(player.With("SetPosition").back(),
              "SetPosition(" + std::to_string(208 * Second) + ")");
}

// --- Time display -------------------------------------------------------

TEST_F(WindowTest, TimeTextsFormatHoursWithoutWrapping) {
    EXPECT_EQ(FormatTime(0), "00:00:00");
    EXPECT_EQ(FormatTime(834500000), "00:01:23");
    EXPECT_EQ(FormatTime(3599 * Second + 9999999), "00:59:59");
    EXPECT_EQ(FormatTime(100LL * 3600 * Second), "100:00:00");
}

TEST_F(WindowTest, TimeDisplayWithDurationZeroReverseAndVirtualTime) {
    TMain& m = Started();
    player.state = PLAYER_PLAYING;
    player.duration = 0;
    player.position = 0;
    m.UpdateTimeDisplay();
    EXPECT_EQ(m.TrackBar1->value(), 0);
    EXPECT_EQ(Text(m.StaticText2), "00:00:00");
    EXPECT_TRUE(player.With("SetPosition").empty()) << "the program's own move never seeks";

    player.duration = 180 * Second;
    player.position = 60 * Second;
    m.ComboBox1->setCurrentText(QStringLiteral("2.0"));
    m.ComboBox1Change();
    m.TimeReverse = 1;
    m.TimeMode = 1;
    m.UpdateTimeDisplay();
    EXPECT_EQ(Text(m.StaticText1), "00:01:00"); // (180 - 60) / 2
    EXPECT_EQ(Text(m.StaticText2), "00:01:30");

    // Windows Media plays at 1.0, yet Virtual Time divides by the chosen rate.
    core->OpenAndPlay(Media("a.wmv"));
    player.duration = 180 * Second;
    player.position = 60 * Second;
    m.UpdateTimeDisplay();
    EXPECT_EQ(Text(m.StaticText2), "00:01:30");

    // While the thumb is held the display follows the thumb.
    m.TimeReverse = 0;
    m.TimeMode = 0;
    m.SeekDragging = true;
    m.TrackBar1->setValue(256);
    m.UpdateTimeDisplay();
    EXPECT_EQ(Text(m.StaticText1), "00:01:30");
    EXPECT_EQ(m.TrackBar1->value(), 256);
}

TEST_F(WindowTest, TimerFollowsTheEngineState) {
    TMain& m = Started();
    const std::uint32_t before = m.TickCount;
    player.state = PLAYER_NOFILE;
    m.Timer1Timer();
    EXPECT_EQ(m.TickCount, before + 1);
    EXPECT_EQ(Text(m.StaticText3), "No File");
    for (QToolButton* b :
         {m.ToolButton3, m.ToolButton4, m.ToolButton5, m.ToolButton6, m.ToolButton7})
        EXPECT_FALSE(b->isEnabled());

    player.state = PLAYER_STOPPED;
    m.Timer1Timer();
    EXPECT_TRUE(m.ToolButton6->isEnabled());
    EXPECT_FALSE(m.ToolButton4->isEnabled());
    EXPECT_FALSE(m.ToolButton3->isEnabled());

    player.state = PLAYER_PAUSED;
    m.Timer1Timer();
    EXPECT_TRUE(m.ToolButton6->isEnabled());
    EXPECT_FALSE(m.ToolButton5->isEnabled());
    EXPECT_TRUE(m.ToolButton4->isEnabled());

    player.state = PLAYER_PLAYING;
    m.TimeMode = 1;
    m.Timer1Timer();
    EXPECT_FALSE(m.ToolButton6->isEnabled());
    EXPECT_TRUE(m.ToolButton5->isEnabled());
    const QColor virtualTime = m.StaticText1->palette().color(QPalette::WindowText);
    EXPECT_GT(virtualTime.red(), 2 * std::max(virtualTime.green(), virtualTime.blue()))
        << "Virtual Time shows in red";
    EXPECT_EQ(player.ticks, 4);

    m.TickCount = 4294967294u;
    m.Timer1Timer();
    EXPECT_EQ(m.TickCount, 0u); // counted modulo 4294967295
}

// The desktop's palettes: its own, and high contrast both ways round.
std::vector<std::pair<const char*, QPalette>> Palettes() {
    return {{"desktop", QGuiApplication::palette()},
            {"high contrast", HighContrastPalette(false)},
            {"inverse high contrast", HighContrastPalette(true)}};
}

TEST_F(WindowTest, PlayIconAndVirtualTimeReadOnEveryPalette) {
    TMain& m = Started();
    player.state = PLAYER_PLAYING;
    m.TimeMode = 1;
    m.Timer1Timer();
    for (const auto& [name, palette] : Palettes()) {
        SCOPED_TRACE(name);
        zarntest::AppPalette applied(palette);
        m.Timer1Timer();
        const QColor time = m.StaticText1->palette().color(QPalette::WindowText);
        EXPECT_GE(ContrastRatio(time, m.palette().color(QPalette::Window)), 4.5);
        EXPECT_GT(time.red(), 2 * std::max(time.green(), time.blue())) << "still red";
        EXPECT_GE(ContrastRatio(m.StaticText3->palette().color(QPalette::WindowText),
                                m.palette().color(QPalette::Window)),
                  4.5);
        // The play triangle is drawn anew in the palette's ink, enabled or not.
        QToolButton* play = m.ToolButton6;
        for (bool enabled : {true, false}) {
            play->setEnabled(enabled);
            EXPECT_GE(zarntest::DrawnContrast(*play, play->rect().center(), QPoint(1, 1)), 3.0)
                << (enabled ? "enabled" : "disabled");
        }
    }
}

TEST_F(WindowTest, ClickOnATimeFieldSwitchesVirtualTime) {
    TMain& m = Started();
    QTest::mouseClick(m.StaticText1, Qt::LeftButton);
    EXPECT_EQ(m.TimeMode, 1);
    QTest::mouseClick(m.StaticText2, Qt::LeftButton);
    EXPECT_EQ(m.TimeMode, 0);
}

// --- Transport and repeat ----------------------------------------------

TEST_F(WindowTest, SpaceTogglesAndDoesNothingWithoutAFile) {
    TMain& m = Started();
    QTest::keyClick(&m, Qt::Key_Space);
    EXPECT_TRUE(player.calls.empty());
    player.state = PLAYER_PLAYING;
    QTest::keyClick(&m, Qt::Key_Space);
    EXPECT_EQ(player.calls.back(), "Pause");
    QTest::keyClick(&m, Qt::Key_Space);
    EXPECT_EQ(player.calls.back(), "Play");
    QTest::mouseDClick(m.Panel2, Qt::LeftButton);
    EXPECT_EQ(player.calls.back(), "Pause");
}

TEST_F(WindowTest, RepeatButtonStepsThroughFourDistinctModes) {
    TMain& m = Started();
    EXPECT_EQ(core->RepeatMode, 1);
    EXPECT_EQ(m.RepeatImageIndex(), 9);
    std::vector<qint64> pictures;
    for (int i = 0; i < 4; ++i) {
        m.ToolButton11->click();
        EXPECT_EQ(m.RepeatImageIndex(), core->RepeatMode + 8);
        pictures.push_back(m.ToolButton11->icon().pixmap(16, 16).toImage().cacheKey());
    }
    EXPECT_EQ(core->RepeatMode, 1); // 2, 3, 0, 1
    QImage a = ToolImageIcon(8).pixmap(16, 16).toImage();
    for (int i = 9; i < 12; ++i)
        EXPECT_NE(ToolImageIcon(i).pixmap(16, 16).toImage(), a);
    EXPECT_NE(MuteImageIcon(0).pixmap(16, 16).toImage(), MuteImageIcon(1).pixmap(16, 16).toImage());
}

// What cannot be played is said, on standard error and in the info line,
// and the list goes on with its next entry.
TEST_F(WindowTest, FailuresAreSaidAndTheListGoesOn) {
    const std::string bad = Media("bad.mp3"), good = Media("good.mp3");
    const std::string missing = dir + "/missing.mp3", empty = dir + "/empty";
    std::filesystem::create_directory(empty);
    player.unplayable = {bad};
    testing::internal::CaptureStderr();
    TMain& m = Create();
    m.StartPlayer({missing, empty, bad, good});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot play " + missing + ": there is no such file or folder"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("cannot play " + empty + ": the folder holds no media files"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("cannot play " + bad + ": the file is damaged"), std::string::npos) << err;
    EXPECT_EQ(player.With("Open"),
              (std::vector<std::string>{"Open(" + bad + ")", "Open(" + good + ")"}));
    EXPECT_EQ(player.calls.back(), "Play");

    // The info line keeps the failure a few seconds over the file that plays.
    m.PostMessage(WM_PLAYER_OPENED, 0, 0);
    QApplication::processEvents();
    EXPECT_FALSE(core->NothingPlayed());
    EXPECT_EQ(Text(m.StaticText3).rfind("Cannot play bad.mp3: the file is damaged", 0), 0u)
        << Text(m.StaticText3);
    player.state = PLAYER_PLAYING;
    for (int i = 0; i < 24; ++i)
        m.Timer1Timer();
    EXPECT_NE(Text(m.StaticText3), "good.mp3");
    m.Timer1Timer();
    EXPECT_EQ(Text(m.StaticText3), "good.mp3");
}

TEST_F(WindowTest, AFailureStaysInTheInfoLineWhileNothingIsOpen) {
    const std::string missing = dir + "/missing.mp3";
    testing::internal::CaptureStderr();
    TMain& m = Create();
    m.StartPlayer({missing});
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(player.With("Open").empty());
    for (int i = 0; i < 30; ++i)
        m.Timer1Timer();
    EXPECT_EQ(Text(m.StaticText3), "Cannot play missing.mp3: there is no such file or folder");
    EXPECT_TRUE(core->NothingPlayed());
}

// A file the engine stopped in mid-play on an error is said like one that
// could not be opened, and Repeat does not play it again for ever.
TEST_F(WindowTest, AFileThatFailsInMidPlayIsSaidAndTheListGoesOn) {
    const std::string a = Media("a.mp3"), b = Media("b.mp3");
    testing::internal::CaptureStderr();
    TMain& m = Started({a, b});
    m.SetRepeatMode(1);
    player.calls.clear();
    m.PostMessage(WM_PLAYER_COMPLETE, 1, 0);
    QApplication::processEvents();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot play " + a + ": playback stopped"), std::string::npos) << err;
    EXPECT_EQ(Text(m.StaticText3).rfind("Cannot play a.mp3: playback stopped", 0), 0u)
        << Text(m.StaticText3);
    EXPECT_EQ(player.With("Open"), std::vector<std::string>{"Open(" + b + ")"});
    EXPECT_EQ(player.calls.back(), "Play");

    // A plain end of file in Repeat plays the same file again.
    player.calls.clear();
    m.PostMessage(WM_PLAYER_COMPLETE, 0, 0);
    QApplication::processEvents();
    EXPECT_TRUE(player.With("Open").empty());
    EXPECT_EQ(player.calls.back(), "Play");
}

TEST_F(WindowTest, NextAndPrevWrapAndFollowTheListSize) {
    const std::string a = Media("a.mp3"), b = Media("b.mp3"), c = Media("c.mp3");
    TMain& m = Started({a});
    EXPECT_FALSE(m.ToolButton8->isEnabled());
    m.OpenFileList({a, b, c});
    EXPECT_TRUE(m.ToolButton8->isEnabled());
    EXPECT_TRUE(m.ToolButton2->isEnabled());
    player.calls.clear();
    m.PrevClick();
    EXPECT_TRUE(player.Has("Open(" + c + ")"));
    m.NextClick();
    EXPECT_TRUE(player.Has("Open(" + a + ")"));
    EXPECT_EQ(player.calls.back(), "Play");
}

TEST_F(WindowTest, OpenFilesClosesTheFileAndPlaysTheFirstChosen) {
    const std::string a = Media("a.mp3"), b = Media("b.wav");
    TMain& m = Started({a});
    player.calls.clear();
    m.OpenFileList({b, a});
    EXPECT_EQ(player.calls.front(), "Close");
    EXPECT_EQ(list->Count(), 2);
    EXPECT_TRUE(player.Has("Open(" + b + ")"));
    EXPECT_EQ(player.calls.back(), "Play");

    player.openResult = E_FAIL;
    player.calls.clear();
    m.OpenFileList({a});
    EXPECT_FALSE(player.Has("Play"));
}

// --- Engine messages ---------------------------------------------------

TEST_F(WindowTest, EngineMessagesFromAnotherThreadAreHandledOnTheGuiThread) {
    TMain& m = Started();
    player.fileName = dir + "/movie.avi";
    player.audioOnly = false;
    std::thread engine([&] {
        m.PostMessage(WM_PLAYER_EVENT, 0, 0);
        m.PostMessage(WM_PLAYER_OPENED, 0, 0);
    });
    engine.join();
    EXPECT_TRUE(player.calls.empty()) << "nothing runs on the engine's thread";
    QApplication::processEvents();
    EXPECT_EQ(player.calls, std::vector<std::string>{"HandleEvent"});
    EXPECT_EQ(Text(m.StaticText3), "movie.avi");
    EXPECT_FALSE(m.Image1->isVisible());

    m.PostMessage(WM_PLAYER_CLOSED, 1, 0);
    QApplication::processEvents();
    EXPECT_TRUE(m.FullScreenPending);
    EXPECT_TRUE(m.Image1->isVisible());
    // The next file opens in full screen again.
    m.PostMessage(WM_PLAYER_OPENED, 0, 0);
    QApplication::processEvents();
    EXPECT_TRUE(player.Has("ToggleFullScreen"));
    EXPECT_TRUE(m.Panel2->IsFullScreen());

    player.calls.clear();
    m.SetRepeatMode(1);
    m.PostMessage(WM_PLAYER_COMPLETE, 0, 0);
    QApplication::processEvents();
    EXPECT_EQ(player.calls, std::vector<std::string>{"Play"});
    m.Panel2->SetFullScreen(false);
}

// --- View ---------------------------------------------------------------

TEST_F(WindowTest, ZoomSizesTheClientAreaToTheVideo) {
    TMain& m = Started();
    player.videoWidth = 320;
    player.videoHeight = 240;
    m.ZoomClick(200);
    const QSize client = m.centralWidget()->size();
    EXPECT_EQ(client, QSize(642, 482 + m.Panel4->height() + m.Panel1->height()));
    EXPECT_EQ(m.Panel4->height(), 21);
    EXPECT_EQ(m.Panel1->height(), 50);
    EXPECT_EQ(m.Panel2->contentsRect().size(), QSize(640, 480));

    // Audio only: no size change, but the choice is kept for the next video.
    player.videoWidth = 0;
    player.videoHeight = 0;
    m.ZoomClick(50);
    EXPECT_EQ(m.centralWidget()->size(), client);
    EXPECT_EQ(m.Zoom, 50);
    m.AutoClick();
    player.videoWidth = 320;
    player.videoHeight = 240;
    m.PostMessage(WM_PLAYER_OPENED, 0, 0);
    QApplication::processEvents();
    EXPECT_EQ(m.Panel2->contentsRect().size(), QSize(m.minimumWidth() - 2, 120));
}

TEST_F(WindowTest, BarsShowAndHideKeepingTheVideoArea) {
    TMain& m = Started();
    m.resize(400, 400);
    QApplication::processEvents();
    const int video = m.Panel2->height();
    m.SetPlayInfoVisible(false);
    QApplication::processEvents();
    EXPECT_EQ(m.height(), 379);
    EXPECT_EQ(m.Panel2->height(), video);
    EXPECT_EQ(m.minimumHeight(), m.NonClientHeight() + 50);
    m.SetPlayControlsVisible(false);
    QApplication::processEvents();
    EXPECT_EQ(m.height(), 329);
    EXPECT_EQ(m.minimumHeight(), m.NonClientHeight());
    m.SetPlayInfoVisible(true);
    m.SetPlayControlsVisible(true);
    QApplication::processEvents();
    EXPECT_EQ(m.height(), 400);
    EXPECT_EQ(m.Panel2->height(), video);
    EXPECT_EQ(m.minimumHeight(), m.NonClientHeight() + 71);
}

TEST_F(WindowTest, StayOnTopCannotChangeInFullScreen) {
    TMain& m = Started();
    m.StayOnTopClick();
    EXPECT_EQ(m.StayOnTop, 1);
    EXPECT_TRUE(m.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(m.isVisible());
    m.ToggleFullScreen();
    m.StayOnTopClick();
    EXPECT_EQ(m.StayOnTop, 1);
    m.ToggleFullScreen();
    m.StayOnTopClick();
    EXPECT_EQ(m.StayOnTop, 0);
    EXPECT_FALSE(m.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(WindowTest, FullScreenWindowShowsTheVideoAndTakesTheKeys) {
    TMain& m = Started();
    player.state = PLAYER_PLAYING;
    QTest::keyClick(&m, Qt::Key_Return);
    QWidget* full = m.Panel2->FullScreenView();
    ASSERT_NE(full, nullptr);
    EXPECT_TRUE(full->isVisible());
    EXPECT_TRUE(full->windowFlags().testFlag(Qt::FramelessWindowHint));
    QTest::keyClick(full, Qt::Key_Space);
    EXPECT_EQ(player.calls.back(), "Pause");
    QTest::keyClick(full, Qt::Key_Enter);
    EXPECT_EQ(m.Panel2->FullScreenView(), nullptr);
    EXPECT_FALSE(player.fullScreen);

    m.ToggleFullScreen();
    full = m.Panel2->FullScreenView();
    ASSERT_NE(full, nullptr);
    QTest::mouseDClick(full, Qt::LeftButton);
    EXPECT_EQ(m.Panel2->FullScreenView(), nullptr);
    EXPECT_FALSE(player.fullScreen);
}

// --- Life cycle and resume ---------------------------------------------

TEST_F(WindowTest, FirstStartWithoutSettingsUsesTheDefaults) {
    TMain& m = Started();
    EXPECT_FALSE(std::filesystem::exists(dir + "/zarnplayer.ini"));
    EXPECT_EQ(m.x(), 0);
    EXPECT_EQ(m.y(), 0);
    EXPECT_EQ(m.size(), QSize(330, 328));
    EXPECT_EQ(m.windowTitle().toStdString(), "zarnplayer ver 0.3.5");
    EXPECT_TRUE(m.Panel4->isVisible());
    EXPECT_TRUE(m.Panel1->isVisible());
    EXPECT_EQ(m.TrackBar2->value(), 100);
    EXPECT_EQ(core->RateText, "1.0");
    EXPECT_EQ(core->RepeatMode, 1);
    EXPECT_FALSE(playList->isVisible());
    EXPECT_TRUE(m.Timer1->isActive());
    EXPECT_EQ(Text(m.StaticText3), "No File");
    EXPECT_GE(m.minimumWidth(), 330);
    EXPECT_EQ(m.minimumHeight(), m.NonClientHeight() + 71);
}

TEST_F(WindowTest, ClosingWritesTheResumeRecordAndDestructionEveryKey) {
    Setting("player", "resume", 1);
    const std::string file = Media("lecture.mp3");
    TMain& m = Started({file});
    player.state = PLAYER_PAUSED;
    player.position = 834500000; // 1 min 23.45 s
    m.SetRepeatMode(3);
    m.ComboBox1->setCurrentText(QStringLiteral("2.6"));
    m.ComboBox1Change();
    m.TrackBar2->setValue(40);
    m.TimeMode = 1;
    m.Zoom = 300;
    m.SetPlayInfoVisible(false);
    playList->show();
    m.close();
    EXPECT_TRUE(ClosingFlag.load());
    EXPECT_FALSE(m.Timer1->isActive());
    EXPECT_EQ(SettingsStore().ReadString("player", "resume_file", "?"), file);
    EXPECT_EQ(Stored("player", "resume_position"), 834);
    EXPECT_EQ(Stored("player", "resume_status"), 2);
    EXPECT_EQ(Stored("playlistform", "visible"), 1);
    EXPECT_EQ(Stored("player", "repeat"), -12345) << "settings wait for the destruction";

    m.FormDestroy();
    EXPECT_EQ(Stored("player", "repeat"), 3);
    EXPECT_EQ(SettingsStore().ReadString("player", "rate", "?"), "2.6");
    EXPECT_EQ(Stored("player", "volume"), 40);
    EXPECT_EQ(Stored("player", "time-mode"), 1);
    EXPECT_EQ(Stored("player", "time-reverse"), 0);
    EXPECT_EQ(Stored("player", "mute"), 0);
    EXPECT_EQ(Stored("player", "zoom"), 300);
    EXPECT_EQ(Stored("player", "auto-resize"), 0);
    EXPECT_EQ(Stored("player", "resume"), 1);
    EXPECT_EQ(Stored("form", "stayontop"), 0);
    EXPECT_EQ(Stored("form", "toolbar-playinfo"), 0);
    EXPECT_EQ(Stored("form", "toolbar-playcontrols"), 1);
    EXPECT_EQ(Stored("Main", "Width"), 330);
    EXPECT_EQ(Stored("Main", "Height"), 328 - 21);
}

TEST_F(WindowTest, ClosingWithoutAFileClearsTheRecordAndResumeOffLeavesIt) {
    Setting("player", "resume", 1);
    Setting("player", "resume_file", "/old");
    Started();
    player.state = PLAYER_STOPPED;
    main->close();
    EXPECT_EQ(SettingsStore().ReadString("player", "resume_file", "?"), "");
    EXPECT_EQ(Stored("player", "resume_position"), 0);
    EXPECT_EQ(Stored("player", "resume_status"), 0);
    Quit();

    Setting("player", "resume", 0);
    Setting("player", "resume_file", "/old");
    Started();
    player.state = PLAYER_PLAYING;
    main->close();
    EXPECT_EQ(SettingsStore().ReadString("player", "resume_file", "?"), "/old");
}

TEST_F(WindowTest, StartResumesThePausedFileAtItsPoint) {
    const std::string other = Media("other.mp3"), file = Media("lecture.mp3");
    { std::ofstream(dir + "/default.lst") << other << "\r\n"; }
    Setting("player", "resume", 1);
    Setting("player", "resume_file", file.c_str());
    Setting("player", "resume_position", 834);
    Setting("player", "resume_status", 2);
    player.duration = 600 * Second;
    Create().StartPlayer({});
    const auto tail = std::vector<std::string>(player.calls.end() - 6, player.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Stop", "SetRate(1.0)", "Open(" + file + ")",
                                              "SetPosition(834000000)", "Play", "Pause"}));
    EXPECT_EQ(Text(main->StaticText1), "00:01:23");
    // Not in the default list: appended and made current.
    ASSERT_EQ(list->Count(), 2);
    EXPECT_EQ(list->Current(), list->Item(1));
}

TEST_F(WindowTest, StartWithADeletedResumeFileOpensNothing) {
    const std::string other = Media("other.mp3");
    { std::ofstream(dir + "/default.lst") << other << "\r\n"; }
    Setting("player", "resume", 1);
    Setting("player", "resume_file", (dir + "/gone.mp3").c_str());
    Create().StartPlayer({});
    EXPECT_TRUE(player.With("Open").empty());
    EXPECT_EQ(list->Count(), 1);
    EXPECT_EQ(list->Current(), nullptr);
}

TEST_F(WindowTest, StartWithoutResumeOpensTheFirstListedFileWithoutPlaying) {
    const std::string first = Media("first.mp3");
    { std::ofstream(dir + "/default.lst") << first << "\r\n"; }
    Setting("playlistform", "visible", 1);
    Create().StartPlayer({});
    EXPECT_TRUE(player.Has("Open(" + first + ")"));
    EXPECT_FALSE(player.Has("Play"));
    EXPECT_TRUE(playList->isVisible());
    EXPECT_TRUE(player.Has("SetOption(1,0)"));
}

TEST_F(WindowTest, FileArgumentsIgnoreTheDefaultListAndTheResumeRecord) {
    const std::string listed = Media("listed.mp3"), arg = Media("arg.mp3");
    { std::ofstream(dir + "/default.lst") << listed << "\r\n"; }
    Setting("player", "resume", 1);
    Setting("player", "resume_file", listed.c_str());
    Create().StartPlayer({arg});
    EXPECT_EQ(player.With("Open"), std::vector<std::string>{"Open(" + arg + ")"});
    EXPECT_EQ(player.calls.back(), "Play");
    EXPECT_EQ(list->Count(), 1);
}

// --- What a screen reader hears ------------------------------------------

namespace {

std::string Spoken(QWidget* w, QAccessible::Text t = QAccessible::Name) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(t).toStdString() : "";
}

} // namespace

TEST_F(WindowTest, SpokenPositionNamesMinutesAndHoursOnlyWhenNeeded) {
    EXPECT_EQ(SpokenPosition(750 * Second, 3850 * Second).toStdString(), "0:12:30 of 1:04:10");
    EXPECT_EQ(SpokenPosition(750 * Second + 9999999, 3600 * Second).toStdString(),
              "0:12:30 of 1:00:00");
    EXPECT_EQ(SpokenPosition(65 * Second, 600 * Second).toStdString(), "1:05 of 10:00");
    EXPECT_EQ(SpokenPosition(0, 0).toStdString(), "0:00 of 0:00");
    // A position past the end or before the start never reads as one.
    EXPECT_EQ(SpokenPosition(700 * Second, 600 * Second).toStdString(), "10:00 of 10:00");
    EXPECT_EQ(SpokenPosition(-5 * Second, 600 * Second).toStdString(), "0:00 of 10:00");
}

TEST_F(WindowTest, ControlsAreNamedAndFollowTheCore) {
    Setting("player", "rate", "2.6");
    TMain& m = Started();
    for (QToolButton* b : m.Panel1->findChildren<QToolButton*>())
        EXPECT_FALSE(Spoken(b).empty()) << b->objectName().toStdString();
    EXPECT_EQ(Spoken(m.ToolButton6), "Play");
    EXPECT_EQ(Spoken(m.ToolButton2), "Previous");
    // On Linux a list's name is its value; the words are its description.
    EXPECT_EQ(Spoken(m.ComboBox1), "2.6");
    EXPECT_EQ(Spoken(m.ComboBox1, QAccessible::Description), "rate 2.6");
    EXPECT_EQ(Spoken(m.TrackBar1), "Position");
    EXPECT_EQ(Spoken(m.TrackBar2), "Volume");
    EXPECT_EQ(Spoken(m.TrackBar2, QAccessible::Description), "100 percent");

    QTest::keyClick(&m, Qt::Key_PageUp);
    EXPECT_EQ(Spoken(m.ComboBox1, QAccessible::Description), "rate 2.8");
    QTest::keyClick(&m, Qt::Key_Down);
    EXPECT_EQ(Spoken(m.TrackBar2, QAccessible::Description), "92 percent");
    m.ToolButton11->click();
    EXPECT_EQ(Spoken(m.ToolButton11), "Repeat: All");

    core->OpenAndPlay(Media("talk.mp3"));
    player.state = PLAYER_PLAYING;
    player.duration = 3850 * Second;
    player.position = 750 * Second;
    // The words follow the window's timer.
    m.Timer1->start();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Spoken(m.TrackBar1, QAccessible::Description) == "0:12:30 of 1:04:10"; },
        2000));
}

// A screen reader reads a menu's items as its children. While one listens,
// Qt hands each key back after the reader has seen it (a posted, not a
// spontaneous, event): the Alt of Alt+O comes back once O has opened the menu.
TEST_F(WindowTest, MenusReadAsMenusAndAnAltHandedBackLeavesTheMenuOpen) {
    TMain& m = Started();
    for (QMenu* menu : m.findChildren<QMenu*>()) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(menu);
        ASSERT_TRUE(a);
        EXPECT_EQ(a->role(), QAccessible::PopupMenu) << menu->objectName().toStdString();
        EXPECT_EQ(a->childCount(), menu->actions().size()) << menu->objectName().toStdString();
    }
    auto* option = m.findChild<QMenu*>("Option1Menu");
    ASSERT_TRUE(option);
    option->popup(m.mapToGlobal(QPoint(0, 0)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(option));
    QKeyEvent handedBack(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    QApplication::sendEvent(option, &handedBack);
    QApplication::processEvents();
    EXPECT_TRUE(option->isVisible());
    // An Alt from the keyboard itself still closes it.
    QTest::keyClick(option, Qt::Key_Alt);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !option->isVisible(); }, 1000));
}

TEST_F(WindowTest, NewFileRateEndFailureMuteAndVolumeAreAnnounced) {
    const std::string bad = Media("bad.mp3"), good = Media("good.mp3");
    player.unplayable = {bad};
    Setting("player", "repeat", 0);
    testing::internal::CaptureStderr();
    TMain& m = Create();
    auto* said = m.findChild<QLabel*>("Announcement");
    ASSERT_TRUE(said);
    const auto heard = [said] { return Spoken(said); };
    m.StartPlayer({bad, good});
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(heard().rfind("Cannot play bad.mp3", 0), 0u) << heard();
    m.PostMessage(WM_PLAYER_OPENED, 0, 0);
    QApplication::processEvents();
    EXPECT_EQ(heard(), "playing good.mp3");
    m.RateUp();
    EXPECT_EQ(heard(), "rate " + core->RateText);
    m.PostMessage(WM_PLAYER_COMPLETE, 0, 0);
    QApplication::processEvents();
    EXPECT_EQ(heard(), "playing ended");

    // Said once the keys rest: a run of volume steps is one word, and a
    // mute pressed twice says nothing.
    m.activateWindow();
    QApplication::setActiveWindow(&m);
    QTest::keyClick(&m, Qt::Key_M);
    EXPECT_TRUE(QTest::qWaitFor([&] { return heard() == "sound off"; }, 2000)) << heard();
    QTest::keyClick(&m, Qt::Key_M);
    EXPECT_TRUE(QTest::qWaitFor([&] { return heard() == "sound on"; }, 2000)) << heard();
    const int volume = core->Volume;
    QTest::keyClick(&m, Qt::Key_Down);
    QTest::keyClick(&m, Qt::Key_Down);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return heard() == "volume " + std::to_string(core->Volume) + " percent"; }, 2000))
        << heard();
    EXPECT_LT(core->Volume, volume);
    QTest::keyClick(&m, Qt::Key_M);
    QTest::keyClick(&m, Qt::Key_M);
    QTest::qWait(500);
    EXPECT_EQ(heard(), "volume " + std::to_string(core->Volume) + " percent");
}

TEST_F(WindowTest, FocusGoesBackToTheWindowThatHadItWhenADialogCloses) {
    TMain& m = Started();
    QWidget other;
    auto* field = new QLineEdit(&other);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    field->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), field);
    bool seen = false;
    zarntest::whenModal<QDialog>([](QDialog* d) { d->reject(); }, &seen);
    QDialog dialog(&m);
    dialog.exec();
    EXPECT_TRUE(seen);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == field; }, 2000))
        << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString()
                                        : std::string("no focus"));
}

// Tab goes round the window's controls in reading order and Shift+Tab back;
// the window's own keys still reach the player while a bar has the focus.
TEST_F(WindowTest, TabGoesRoundTheControlsInReadingOrder) {
    Setting("player", "rate", "2.0");
    TMain& m = Started();
    const std::vector<std::string> faults = zarntest::TabOrderFaults(&m);
    EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
    const std::vector<QWidget*> chain = zarntest::TabChain(&m);
    EXPECT_NE(std::find(chain.begin(), chain.end(), m.TrackBar1), chain.end());
    EXPECT_NE(std::find(chain.begin(), chain.end(), m.TrackBar2), chain.end());

    m.TrackBar2->setFocus();
    const int before = core->Volume;
    QTest::keyClick(m.TrackBar2, Qt::Key_Down);
    EXPECT_EQ(core->Volume, std::max(0, before - 8)) << "Down is the volume's";
    QTest::keyClick(m.TrackBar2, Qt::Key_PageUp);
    EXPECT_EQ(core->RateText, "2.2") << "Page Up is the rate's";

    // Hidden controls are no stops.
    m.SetPlayControlsVisible(false);
    const std::vector<std::string> hidden = zarntest::TabOrderFaults(&m);
    EXPECT_TRUE(hidden.empty()) << testing::PrintToString(hidden);
    m.SetPlayControlsVisible(true);
}
