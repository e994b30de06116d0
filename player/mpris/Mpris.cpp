#include "player/mpris/Mpris.h"

#include "platform/classesroot/xdg.h"
#include "player/config/Extention.h"
#include "player/config/Rates.h"
#include "player/core/Player.h"
#include "player/list/File.h"
#include "player/list/Filelist.h"
#include "player/mpris/Adaptors.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>

namespace mpris {

namespace {

constexpr const char* PlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr int PollInterval = 250; // ms
// How far the heard position may stray from a widget's own reckoning
// before it is told where playback really is.
constexpr std::int64_t JumpTolerance = 400000; // us

// A session bus to join: the address it gives, or the per-user socket.
// Anything else would have the bus library start a bus of its own.
bool SessionBusAnnounced() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address)
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime)
        return false;
    struct stat st = {};
    return stat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// Tag bytes in UTF-8 where they are, else as Latin-1, as the windows show them.
QString FromTagBytes(const std::string& bytes) {
    const QByteArray raw = QByteArray::fromStdString(bytes);
    const QString text = QString::fromUtf8(raw);
    if (text.contains(QChar::ReplacementCharacter) && !raw.contains("\xEF\xBF\xBD"))
        return QString::fromLatin1(raw);
    return text;
}

} // namespace

Service::Service(TPlayerCore& core, QWidget& window, TFileList& list)
    : core_(core), window_(window), list_(list) {}

Service::~Service() {
    if (!root_)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(QString::fromLatin1(ObjectPath));
    bus.unregisterService(QString::fromLatin1(ServiceName));
    delete root_;
}

bool Service::Start() {
    if (root_ || bus_ || !SessionBusAnnounced())
        return false;
    bus_ = std::make_unique<sessionbus::Request>(
        [this](bool answered) {
            if (answered)
                Join();
        },
        std::chrono::seconds(5), "media keys and desktop widgets do not reach the player");
    return true;
}

void Service::Join() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    root_ = new QObject;
    new RootAdaptor(root_, *this);
    new PlayerAdaptor(root_, *this);
    if (!bus.registerObject(QString::fromLatin1(ObjectPath), root_) ||
        !bus.registerService(QString::fromLatin1(ServiceName))) {
        bus.unregisterObject(QString::fromLatin1(ObjectPath));
        delete root_;
        root_ = nullptr;
        return;
    }
    last_ = Take();
    Anchor(Position());
    poll_ = new QTimer(this);
    poll_->setInterval(PollInterval);
    connect(poll_, &QTimer::timeout, this, &Service::Poll);
    poll_->start();
}

// --- What the desktop reads ---------------------------------------------

std::int32_t Service::State() const {
    std::int32_t state = 0;
    if (IPlayer* p = core_.Player())
        p->GetState(&state);
    return state;
}

std::int64_t Service::Length() const {
    std::int64_t duration = 0;
    IPlayer* p = core_.Player();
    if (p && CanSeek())
        p->GetDuration(&duration);
    return duration / 10;
}

QString Service::PlaybackStatus() const {
    switch (State()) {
    case PLAYER_PLAYING:
        return QStringLiteral("Playing");
    case PLAYER_PAUSED:
        return QStringLiteral("Paused");
    default:
        return QStringLiteral("Stopped");
    }
}

QString Service::TrackId() const {
    std::string file;
    IPlayer* p = core_.Player();
    const char* name = nullptr;
    if (p && CanSeek() && p->GetFileName(&name) == S_OK && name)
        file = name;
    const QString opened = QFile::decodeName(QByteArray::fromStdString(file));
    if (opened != openedFile_) {
        openedFile_ = opened;
        ++trackNumber_;
    }
    if (opened.isEmpty())
        return QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
    return QStringLiteral("/org/zarnplayer/Track/%1").arg(trackNumber_);
}

QVariantMap Service::Metadata() const {
    QVariantMap m;
    const QString track = TrackId();
    m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(track)));
    if (openedFile_.isEmpty())
        return m;
    const std::string path = QFile::encodeName(openedFile_).toStdString();
    const TFile* entry = list_.Current();
    if (!entry || entry->FileName != path) {
        const int i = list_.IndexOf(path);
        entry = i >= 0 ? list_.Item(i) : nullptr;
    }
    QString title = entry ? FromTagBytes(entry->Title) : QString();
    if (title.isEmpty())
        title = QFile::decodeName(QByteArray::fromStdString(std::string(FileNamePart(path))));
    m.insert(QStringLiteral("xesam:title"), title);
    if (entry && !entry->TagArtist.empty())
        m.insert(QStringLiteral("xesam:artist"), QStringList{FromTagBytes(entry->TagArtist)});
    // The chapter, where desktop widgets that show more than title and
    // artist look: the title stays the book's.
    if (const std::string chapter = core_.CurrentChapterText(); !chapter.empty())
        m.insert(QStringLiteral("xesam:comment"), QStringList{QString::fromUtf8(chapter)});
    m.insert(QStringLiteral("mpris:length"), static_cast<qlonglong>(Length()));
    m.insert(QStringLiteral("xesam:url"),
             QString::fromLatin1(QUrl::fromLocalFile(openedFile_).toEncoded()));
    return m;
}

double Service::Rate() const {
    // A file the rate list does not apply to plays at normal speed.
    if (!core_.RateEnabled())
        return 1.0;
    return core_.RateValue();
}

double Service::Volume() const {
    return core_.Volume / 100.0;
}

qlonglong Service::Position() const {
    std::int64_t position = 0;
    IPlayer* p = core_.Player();
    if (p && CanSeek())
        p->GetPosition(&position);
    return position / 10;
}

bool Service::CanGoNext() const {
    return core_.CanGoNext();
}

bool Service::CanGoPrevious() const {
    return core_.CanGoNext();
}

bool Service::CanPlay() const {
    const std::int32_t state = State();
    return state == PLAYER_PLAYING || state == PLAYER_PAUSED || state == PLAYER_STOPPED;
}

bool Service::CanSeek() const {
    return CanPlay();
}

QStringList Service::SupportedMimeTypes() const {
    std::set<std::string> types;
    const TExtentions& table = Extentions();
    for (int i = 0; i < table.Count(); ++i)
        if (auto mime = classesroot::XdgRoot::MimeTypeOf(table[i].Extension))
            types.insert(*mime);
    QStringList out;
    for (const std::string& t : types)
        out << QString::fromStdString(t);
    return out;
}

// --- What the desktop asks for: the window's own commands ---------------

void Service::Raise() {
    window_.showNormal();
    window_.raise();
    window_.activateWindow();
}

void Service::Quit() {
    window_.close();
}

void Service::Play() {
    core_.Play();
    Poll();
}

void Service::Pause() {
    // The Pause command is offered only while playing.
    if (State() == PLAYER_PLAYING)
        core_.Pause();
    Poll();
}

void Service::PlayPause() {
    core_.TogglePlay();
    Poll();
}

void Service::Stop() {
    core_.Stop();
    Poll();
}

void Service::Next() {
    if (CanGoNext())
        core_.Next();
    Poll();
}

void Service::Previous() {
    if (CanGoPrevious())
        core_.Prev();
    Poll();
}

void Service::SetRate(double rate) {
    if (std::isnan(rate) || rate < 0)
        return;
    if (rate == 0) {
        Pause();
        return;
    }
    core_.SetRateIndex(rates::Nearest(rate));
    Poll();
}

void Service::SetVolume(double volume) {
    if (std::isnan(volume))
        return;
    core_.SetVolume(static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100)));
    Poll();
}

void Service::Seek(qlonglong offset) {
    if (!CanSeek())
        return;
    const std::int64_t target = Position() + offset;
    if (target > Length()) {
        Next();
        return;
    }
    MoveTo(std::max<std::int64_t>(target, 0));
}

void Service::SetPosition(const QString& track, qlonglong position) {
    if (!CanSeek() || track != TrackId() || position < 0 || position > Length())
        return;
    MoveTo(position);
}

void Service::OpenUri(const QString& uri) {
    const QUrl url(uri);
    if (!url.isLocalFile())
        return;
    core_.DropFiles({QFile::encodeName(url.toLocalFile()).toStdString()}, false);
}

// As the seek bar seeks, only to the exact time: a stopped file is
// started paused first.
void Service::MoveTo(std::int64_t microseconds) {
    if (!core_.Player())
        return;
    core_.SeekTo(microseconds * 10);
    Anchor(microseconds);
    emit Seeked(microseconds);
}

// --- Announcing changes -------------------------------------------------

void Service::Anchor(std::int64_t microseconds) {
    anchorPosition_ = microseconds;
    anchorClock_.start();
}

Service::Snapshot Service::Take() const {
    Snapshot s;
    s.status = PlaybackStatus();
    s.metadata = Metadata();
    s.rate = Rate();
    s.volume = Volume();
    s.canNext = CanGoNext();
    s.canPrevious = CanGoPrevious();
    s.canPlay = CanPlay();
    s.canSeek = CanSeek();
    return s;
}

// Also right after each command from the bus, so a change undone at once
// (a pause and play in quick succession) is still announced.
void Service::Poll() {
    if (!root_ || !core_.Player())
        return;
    const Snapshot now = Take();
    QVariantMap changed;
    if (now.status != last_.status)
        changed.insert(QStringLiteral("PlaybackStatus"), now.status);
    if (now.metadata != last_.metadata)
        changed.insert(QStringLiteral("Metadata"), now.metadata);
    if (now.rate != last_.rate)
        changed.insert(QStringLiteral("Rate"), now.rate);
    if (now.volume != last_.volume)
        changed.insert(QStringLiteral("Volume"), now.volume);
    if (now.canNext != last_.canNext)
        changed.insert(QStringLiteral("CanGoNext"), now.canNext);
    if (now.canPrevious != last_.canPrevious)
        changed.insert(QStringLiteral("CanGoPrevious"), now.canPrevious);
    if (now.canPlay != last_.canPlay) {
        changed.insert(QStringLiteral("CanPlay"), now.canPlay);
        changed.insert(QStringLiteral("CanPause"), now.canPlay);
    }
    if (now.canSeek != last_.canSeek)
        changed.insert(QStringLiteral("CanSeek"), now.canSeek);
    const bool reckonAgain = now.status != last_.status || now.rate != last_.rate ||
                             now.metadata.value(QStringLiteral("mpris:trackid")) !=
                                 last_.metadata.value(QStringLiteral("mpris:trackid"));
    last_ = now;
    if (!changed.isEmpty()) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QString::fromLatin1(ObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"));
        signal << QString::fromLatin1(PlayerInterface) << changed << QStringList();
        QDBusConnection::sessionBus().send(signal);
    }

    // A widget moves its own clock on at the rate while playing; when what
    // is heard runs away from it (a seek from the window, silence raced
    // through) it is told the real position.
    const std::int64_t position = Position();
    if (reckonAgain) {
        Anchor(position);
        return;
    }
    std::int64_t expected = anchorPosition_;
    if (now.status == QLatin1String("Playing"))
        expected += static_cast<std::int64_t>(static_cast<double>(anchorClock_.elapsed()) * 1000.0 *
                                              now.rate);
    if (std::llabs(position - expected) > JumpTolerance) {
        Anchor(position);
        emit Seeked(position);
    }
}

} // namespace mpris
