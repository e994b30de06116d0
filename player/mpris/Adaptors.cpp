#include "player/mpris/Adaptors.h"

#include "player/mpris/Mpris.h"

namespace mpris {

RootAdaptor::RootAdaptor(QObject* object, Service& service)
    : QDBusAbstractAdaptor(object), service_(service) {}

QString RootAdaptor::Identity() const {
    return QStringLiteral("zarnplayer");
}

QString RootAdaptor::DesktopEntry() const {
    return QString::fromLatin1(mpris::DesktopEntry);
}

QStringList RootAdaptor::SupportedUriSchemes() const {
    return {QStringLiteral("file")};
}

QStringList RootAdaptor::SupportedMimeTypes() const {
    return service_.SupportedMimeTypes();
}

void RootAdaptor::Raise() {
    service_.Raise();
}

void RootAdaptor::Quit() {
    service_.Quit();
}

PlayerAdaptor::PlayerAdaptor(QObject* object, Service& service)
    : QDBusAbstractAdaptor(object), service_(service) {
    connect(&service_, &Service::Seeked, this, &PlayerAdaptor::Seeked);
}

QString PlayerAdaptor::PlaybackStatus() const {
    return service_.PlaybackStatus();
}

QVariantMap PlayerAdaptor::Metadata() const {
    return service_.Metadata();
}

double PlayerAdaptor::Rate() const {
    return service_.Rate();
}

void PlayerAdaptor::SetRate(double rate) {
    service_.SetRate(rate);
}

double PlayerAdaptor::Volume() const {
    return service_.Volume();
}

void PlayerAdaptor::SetVolume(double volume) {
    service_.SetVolume(volume);
}

qlonglong PlayerAdaptor::Position() const {
    return service_.Position();
}

bool PlayerAdaptor::CanGoNext() const {
    return service_.CanGoNext();
}

bool PlayerAdaptor::CanGoPrevious() const {
    return service_.CanGoPrevious();
}

bool PlayerAdaptor::CanPlay() const {
    return service_.CanPlay();
}

bool PlayerAdaptor::CanSeek() const {
    return service_.CanSeek();
}

void PlayerAdaptor::Play() {
    service_.Play();
}

void PlayerAdaptor::Pause() {
    service_.Pause();
}

void PlayerAdaptor::PlayPause() {
    service_.PlayPause();
}

void PlayerAdaptor::Stop() {
    service_.Stop();
}

void PlayerAdaptor::Next() {
    service_.Next();
}

void PlayerAdaptor::Previous() {
    service_.Previous();
}

void PlayerAdaptor::Seek(qlonglong offset) {
    service_.Seek(offset);
}

void PlayerAdaptor::SetPosition(const QDBusObjectPath& track, qlonglong position) {
    service_.SetPosition(track.path(), position);
}

void PlayerAdaptor::OpenUri(const QString& uri) {
    service_.OpenUri(uri);
}

} // namespace mpris
