#include "player/mainform/MainAccessible.h"

#include "player/mainform/Mainform.h"
#include "player/widgets/Accessible.h"

#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <memory>
#include <string>

namespace {

QString Clock(std::int64_t seconds, bool hours) {
    const auto two = [](std::int64_t v) {
        return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
    };
    if (hours)
        return QString::number(seconds / 3600) + QLatin1Char(':') + two(seconds / 60 % 60) +
               QLatin1Char(':') + two(seconds % 60);
    return QString::number(seconds / 60) + QLatin1Char(':') + two(seconds % 60);
}

// A timer that runs what once the keys have rested for a quarter second
// after its last start: a held key or a quick run of keys is said once.
template <typename What> QTimer* OnceKeysRest(QWidget& owner, What what) {
    auto* timer = new QTimer(&owner);
    timer->setSingleShot(true);
    timer->setInterval(250);
    QObject::connect(timer, &QTimer::timeout, &owner, what);
    return timer;
}

} // namespace

QString SpokenPosition(std::int64_t position, std::int64_t duration) {
    constexpr std::int64_t second = 10000000;
    const std::int64_t total = std::max<std::int64_t>(0, duration) / second;
    const std::int64_t at = std::clamp<std::int64_t>(position / second, 0, total);
    const bool hours = total >= 3600;
    return QObject::tr("%1 of %2").arg(Clock(at, hours), Clock(total, hours));
}

QString SpokenRate(const std::string& rateText) {
    return QObject::tr("rate %1").arg(QString::fromStdString(rateText));
}

QString SpokenRepeatMode(int mode) {
    return QObject::tr("Repeat: %1")
        .arg(QObject::tr(kRepeatModeItems[mode & 3]).remove(QLatin1Char('&')));
}

void MakeAccessible(TMain& w) {
    TPlayerCore& core = w.Core();
    // The buttons by their commands; their pictures say nothing.
    const std::pair<QToolButton*, const char*> buttons[] = {
        {w.ToolButton1, "Open Files"}, {w.ToolButton2, "Previous"}, {w.ToolButton8, "Next"},
        {w.ToolButton15, "Play List"}, {w.ToolButton3, "Rewind"},   {w.ToolButton4, "Stop"},
        {w.ToolButton5, "Pause"},      {w.ToolButton6, "Play"},     {w.ToolButton7, "Fast Forward"},
        {w.ToolButton13, "Mute"}};
    for (const auto& [button, name] : buttons)
        button->setAccessibleName(QObject::tr(name));
    w.TrackBar1->setAccessibleName(QObject::tr("Position"));
    w.TrackBar2->setAccessibleName(QObject::tr("Volume"));
    w.StaticText1->setAccessibleName(QObject::tr("Elapsed"));
    w.StaticText2->setAccessibleName(QObject::tr("Length"));
    QWidget* announcer = &w;
    AnnouncerOf(announcer);
    KeepKeysForDialogsAndMenus(&w);

    const auto showRate = [&w, &core] {
        // AT-SPI takes a list's name from its current text; the description
        // says what the number is.
        w.ComboBox1->setAccessibleName(SpokenRate(core.RateText));
        w.ComboBox1->setAccessibleDescription(SpokenRate(core.RateText));
    };
    const auto showVolume = [&w, &core] {
        w.TrackBar2->setAccessibleDescription(QObject::tr("%1 percent").arg(core.Volume));
        w.ToolButton13->setAccessibleDescription(core.Mute ? QObject::tr("sound off")
                                                           : QObject::tr("sound on"));
    };
    const auto showRepeat = [&w, &core] {
        w.ToolButton11->setAccessibleName(SpokenRepeatMode(core.RepeatMode));
    };
    // The seek bar's value as words; a changed text only, so a reader is not
    // told the same position five times a second.
    const auto showPosition = [&w, &core] {
        std::int64_t position = 0, duration = 0;
        if (IPlayer* p = core.Player())
            p->GetTimes(&position, &duration);
        const QString text = SpokenPosition(position, duration);
        if (w.TrackBar1->accessibleDescription() != text)
            w.TrackBar1->setAccessibleDescription(text);
    };
    showRate();
    showVolume();
    showRepeat();
    showPosition();
    QObject::connect(&core, &TPlayerCore::rateChanged, &w, [=, &core] {
        showRate();
        Announce(announcer, SpokenRate(core.RateText));
    });
    // Mute and volume said once the keys have come to rest, and only what
    // changed since it was last said: a volume key held down is one word.
    auto said = std::make_shared<std::pair<int, int>>(core.Volume, core.Mute);
    QTimer* volumeRests = OnceKeysRest(w, [announcer, said, &core] {
        const QString sound = core.Mute ? QObject::tr("sound off") : QObject::tr("sound on");
        if (core.Mute != said->second)
            Announce(announcer, sound);
        else if (core.Volume != said->first)
            Announce(announcer,
                     core.Mute ? QObject::tr("volume %1 percent, %2").arg(core.Volume).arg(sound)
                               : QObject::tr("volume %1 percent").arg(core.Volume));
        *said = {core.Volume, core.Mute};
    });
    QObject::connect(&core, &TPlayerCore::volumeChanged, &w, [showVolume, volumeRests] {
        showVolume();
        volumeRests->start();
    });
    QObject::connect(&core, &TPlayerCore::repeatModeChanged, &w, showRepeat);
    // Where a seek landed, said once the keys have come to rest.
    QTimer* landed = OnceKeysRest(w, [&w, announcer, showPosition] {
        showPosition();
        Announce(announcer, w.TrackBar1->accessibleDescription());
    });
    QObject::connect(&core, &TPlayerCore::positionChanged, &w, [showPosition, landed] {
        showPosition();
        landed->start();
    });
    QObject::connect(&w, &TMain::ticked, &w, showPosition);
    // A new chapter is said once, when playback or a jump reaches it.
    auto chapter = std::make_shared<std::string>();
    QObject::connect(&w, &TMain::ticked, &w, [announcer, chapter, &core] {
        const std::string now = core.CurrentChapterText();
        if (now == *chapter)
            return;
        *chapter = now;
        if (!now.empty())
            Announce(announcer, QObject::tr("chapter %1").arg(QString::fromUtf8(now)));
    });
    QObject::connect(&core, &TPlayerCore::failed, &w,
                     [announcer](const QString& text) { Announce(announcer, text); });
    QObject::connect(&core, &TPlayerCore::finished, &w,
                     [announcer] { Announce(announcer, QObject::tr("playing ended")); });
    QObject::connect(&w, &TMain::fileOpened, &w, [announcer, showPosition](const QString& name) {
        showPosition();
        Announce(announcer, QObject::tr("playing %1").arg(name));
    });
}
