// The running player on the session bus for media keys and desktop widgets:
// the two media player interfaces at /org/mpris/MediaPlayer2. Every call
// is a command of the player core; what the desktop sees is read back from
// the core and its engine, and changes are announced by comparing a
// snapshot a few times a second.
#pragma once

#include "platform/sessionbus.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <cstdint>
#include <memory>

class QTimer;
class QWidget;
class TFileList;
class TPlayerCore;

namespace mpris {

inline constexpr const char* ServiceName = "org.mpris.MediaPlayer2.zarnplayer";
inline constexpr const char* ObjectPath = "/org/mpris/MediaPlayer2";
// The launcher's desktop entry; the file-type entry is another one.
inline constexpr const char* DesktopEntry = "org.zarnplayer.Player";

class Service : public QObject {
    Q_OBJECT
public:
    // window: the main window, which Raise shows and Quit closes.
    Service(TPlayerCore& core, QWidget& window, TFileList& list);
    ~Service() override;

    // Joins the session bus once it has answered, from the event loop, so a
    // bus that never answers holds nothing up (said on stderr after a time
    // limit); false, and silent, when there is none.
    bool Start();

    // Root interface.
    void Raise();
    void Quit();
    QStringList SupportedMimeTypes() const;

    // Player interface; positions and lengths are in microseconds.
    QString PlaybackStatus() const;
    QVariantMap Metadata() const;
    double Rate() const;
    void SetRate(double rate);
    double Volume() const;
    void SetVolume(double volume);
    qlonglong Position() const;
    bool CanGoNext() const;
    bool CanGoPrevious() const;
    bool CanPlay() const;
    bool CanSeek() const;
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next();
    void Previous();
    void Seek(qlonglong offset);
    void SetPosition(const QString& track, qlonglong position);
    // A local file's address, opened as a dropped file: the list becomes it.
    void OpenUri(const QString& uri);

signals:
    void Seeked(qlonglong position);

private:
    void Join();

    struct Snapshot {
        QString status;
        QVariantMap metadata;
        double rate = 1.0;
        double volume = 1.0;
        bool canNext = false;
        bool canPrevious = false;
        bool canPlay = false;
        bool canSeek = false;
    };
    Snapshot Take() const;
    void Poll();
    void MoveTo(std::int64_t microseconds);
    void Anchor(std::int64_t microseconds);
    std::int32_t State() const;
    std::int64_t Length() const;
    QString TrackId() const;

    TPlayerCore& core_;
    QWidget& window_;
    TFileList& list_;
    QObject* root_ = nullptr;
    std::unique_ptr<sessionbus::Request> bus_;
    QTimer* poll_ = nullptr;
    Snapshot last_;
    // Where a desktop widget believes the position is: the last announced
    // position plus the time since at the announced rate.
    std::int64_t anchorPosition_ = 0;
    QElapsedTimer anchorClock_;
    // Changes whenever another file is opened, so widgets see a new track.
    mutable QString openedFile_;
    mutable unsigned trackNumber_ = 0;
};

} // namespace mpris
