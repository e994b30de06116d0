#include "player/core/Player.h"

#include "player/bookmarks/Bookmark.h"
#include "player/config/Extention.h"
#include "player/config/Option.h"
#include "player/config/Rates.h"
#include "player/config/Tool.h"
#include "player/list/Filelist.h"

#include "platform/numbers.h"
#include "platform/profile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

std::int32_t VolumeLevel(int volume, bool mute) {
    if (mute)
        return -10000;
    const std::int32_t quiet = 100 - volume;
    return -(quiet * quiet * quiet) / 100;
}

namespace {

bool IsWindowsMedia(const std::string& path) {
    const std::string ext(ExtensionOf(path));
    return strcasecmp(ext.c_str(), ".wma") == 0 || strcasecmp(ext.c_str(), ".wmv") == 0 ||
           strcasecmp(ext.c_str(), ".asf") == 0;
}

// Why a name given to the player yields nothing to play, in the user's words.
std::string WhyNotPlayable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "there is no such file or folder" : std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "the folder holds no media files";
    if (!S_ISREG(st.st_mode))
        return "it is not a regular file";
    if (::access(path.c_str(), R_OK) != 0)
        return std::strerror(errno);
    if (st.st_size == 0)
        return "the file is empty";
    return "the file is damaged or of a type no installed decoder reads";
}

} // namespace

TPlayerCore::TPlayerCore(TFileList& list) : list_(list) {
    ReadSettings();
}

void TPlayerCore::ReadSettings() {
    TTool& s = SettingsStore();
    Resume = s.ReadInteger("player", "resume", 0);
    RepeatMode = s.ReadInteger("player", "repeat", 1);
    if (RepeatMode < 0 || RepeatMode > 3)
        RepeatMode = 1; // a hand-edited value would show no picture
    Volume = std::clamp(s.ReadInteger("player", "volume", 100), 0, 100);
    RateText = s.ReadString("player", "rate", "1.0");
    Mute = s.ReadInteger("player", "mute", 0) ? 1 : 0;
}

void TPlayerCore::WriteSettings() const {
    TTool& s = SettingsStore();
    s.WriteInteger("player", "resume", Resume);
    s.WriteInteger("player", "repeat", RepeatMode);
    s.WriteInteger("player", "volume", Volume);
    s.WriteString("player", "rate", RateText);
    s.WriteInteger("player", "mute", Mute);
}

// --- Start and close ------------------------------------------------------

void TPlayerCore::Start(const std::vector<std::string>& files) {
    LoadMemory();
    // 1. The stored rate, or 1.0 when it is not one of the list's.
    int index = rates::IndexOfText(RateText);
    if (index < 0)
        index = rates::NormalIndex();
    SetRateIndex(index);
    // 2. Volume.
    emit volumeChanged();
    ApplyVolume();
    // 3. Options.
    Options().Apply(player_);
    // 4. The first file.
    if (files.empty()) {
        StartWithoutFiles();
        return;
    }
    list_.BeginUpdate();
    list_.Clear();
    for (const std::string& f : files) {
        const int before = list_.Count();
        list_.Add(f);
        if (list_.Count() == before)
            ShowFailure("cannot play", f, WhyNotPlayable(f));
    }
    list_.EndUpdate();
    // Closed while the folder scan let events run: nothing starts.
    if (ClosingFlag.load())
        return;
    OpenAndPlay(list_.Select(0));
}

void TPlayerCore::StartWithoutFiles() {
    list_.BeginUpdate();
    if (!list_.DefaultList().empty())
        list_.LoadFromFile(list_.DefaultList());
    if (!Resume) {
        const std::string name = list_.Select(0);
        if (PrepareOpen(name) && OpenPrepared(name) != S_OK)
            ShowFailure("cannot open", name, WhyNotPlayable(name));
        list_.EndUpdate();
        return;
    }
    const std::string file = SettingsStore().ReadString("player", "resume_file", "");
    std::error_code ec;
    if (!file.empty() && std::filesystem::exists(file, ec)) {
        const std::int64_t position =
            static_cast<std::int64_t>(SettingsStore().ReadInteger("player", "resume_position", 0)) *
            1000000;
        HRESULT opened = E_FAIL;
        // The resume point has its own position and plays at the stored rate.
        if (PrepareOpen(file, false) && (opened = OpenPrepared(file)) != S_OK)
            ShowFailure("cannot resume", file, WhyNotPlayable(file));
        if (opened == S_OK) {
            player_->SetPosition(position);
            player_->Play();
            if (SettingsStore().ReadInteger("player", "resume_status", 3) == PLAYER_PAUSED) {
                player_->Pause();
                emit positionChanged();
            }
        }
        if (list_.IndexOf(file) < 0)
            list_.Add(file);
        list_.Select(list_.IndexOf(file));
    }
    list_.EndUpdate();
}

void TPlayerCore::SaveResumePoint() {
    RememberPosition();
    std::optional<profile::Error> memoryFailure;
    try {
        SaveMemory();
    } catch (const profile::Error& e) {
        memoryFailure = e;
    }
    if (Resume)
        WriteResumePoint();
    if (memoryFailure)
        throw *memoryFailure;
}

void TPlayerCore::WriteResumePoint() {
    const std::int32_t state = State();
    TTool& s = SettingsStore();
    if (state == PLAYER_PLAYING || state == PLAYER_PAUSED) {
        const std::int64_t position = Position();
        s.WriteString("player", "resume_file", PlayingName());
        s.WriteInteger("player", "resume_position", static_cast<int>(position / 1000000));
        s.WriteInteger("player", "resume_status", state);
    } else {
        s.WriteString("player", "resume_file", "");
        s.WriteInteger("player", "resume_position", 0);
        s.WriteInteger("player", "resume_status", 0);
    }
}

// --- Transport --------------------------------------------------------------

void TPlayerCore::Play() {
    if (!player_)
        return;
    playHeld_ = false;
    RewindAfterPause();
    player_->Play();
}

void TPlayerCore::Stop() {
    // A start held for the loudness estimate must not undo the stop.
    playHeld_ = false;
    if (player_)
        player_->Stop();
}

void TPlayerCore::Pause() {
    if (!player_)
        return;
    playHeld_ = false;
    const std::int32_t state = State();
    player_->Pause();
    NotePause(state);
}

void TPlayerCore::TogglePlay() {
    if (!player_)
        return;
    playHeld_ = false;
    const std::int32_t state = State();
    if (state == PLAYER_PLAYING) {
        player_->Pause();
        NotePause(state);
    } else if (state == PLAYER_PAUSED || state == PLAYER_STOPPED) {
        RewindAfterPause();
        player_->Play();
    }
}

void TPlayerCore::Next() {
    OpenAndPlay(list_.Next());
}

void TPlayerCore::Prev() {
    OpenAndPlay(list_.Prev());
}

bool TPlayerCore::CanGoNext() const {
    return list_.Count() > 1;
}

// --- Rate, volume, seek -----------------------------------------------------

int TPlayerCore::RateIndex() const {
    const int index = rates::IndexOfText(RateText);
    return index >= 0 ? index : rates::NormalIndex();
}

double TPlayerCore::RateValue() const {
    return rates::Value(RateIndex());
}

void TPlayerCore::SetRateIndex(int index) {
    if (!rateEnabled_ || index < 0 || index >= rates::kCount)
        return;
    RateText = rates::kTexts[index];
    if (player_)
        player_->SetRate(RateValue());
    emit rateChanged();
}

void TPlayerCore::RateUp() {
    const int index = rates::Faster(RateIndex());
    if (index != RateIndex())
        SetRateIndex(index);
}

void TPlayerCore::RateDown() {
    const int index = rates::Slower(RateIndex());
    if (index != RateIndex())
        SetRateIndex(index);
}

void TPlayerCore::SetVolume(int volume) {
    volume = std::clamp(volume, 0, 100);
    if (volume == Volume)
        return;
    Volume = volume;
    if (player_)
        player_->SetVolume(VolumeLevel(FadedVolume(), false));
    emit volumeChanged();
}

void TPlayerCore::ToggleMute() {
    Mute = Mute ? 0 : 1;
    ApplyVolume();
    emit volumeChanged();
}

void TPlayerCore::ApplyVolume() {
    if (player_)
        player_->SetVolume(VolumeLevel(FadedVolume(), Mute != 0));
}

void TPlayerCore::SeekTo(std::int64_t position) {
    if (!player_)
        return;
    const std::int32_t state = State();
    if (state == PLAYER_STOPPED) {
        player_->Play();
        player_->Pause();
    }
    // A place chosen: no rewind for the pause before it, and a file played
    // to its end is being listened to again.
    pausedAt_.reset();
    ended_ = false;
    player_->SetPosition(position);
    emit positionChanged();
}

std::int32_t TPlayerCore::State() const {
    std::int32_t state = 0;
    if (player_)
        player_->GetState(&state);
    return state;
}

bool TPlayerCore::FileOpen() const {
    return player_ && State() != PLAYER_NOFILE;
}

std::int64_t TPlayerCore::Position() const {
    std::int64_t position = 0;
    if (player_)
        player_->GetPosition(&position);
    return position;
}

std::int64_t TPlayerCore::Duration() const {
    std::int64_t duration = 0;
    if (player_)
        player_->GetDuration(&duration);
    return duration;
}

void TPlayerCore::SetRepeatMode(int mode) {
    RepeatMode = mode;
    emit repeatModeChanged();
}

// --- Opening ----------------------------------------------------------------

bool TPlayerCore::PrepareOpen(const std::string& path, bool recall) {
    if (path.empty() || !player_)
        return false;
    RememberLeft();
    player_->Stop();
    ForgetChapters();
    const bool applies = !IsWindowsMedia(path);
    recalled_.reset();
    if (recall && Options().RememberFiles)
        recalled_ = memory_.Find(path);
    bool changed = applies != rateEnabled_;
    if (applies && recalled_) {
        int index = rates::IndexOfText(recalled_->rate);
        if (index < 0)
            index = rates::Nearest(numbers::ParseDouble(recalled_->rate).value_or(1.0));
        changed = changed || index != RateIndex();
        RateText = rates::kTexts[index];
    }
    player_->SetRate(applies ? RateValue() : 1.0);
    rateEnabled_ = applies;
    if (changed)
        emit rateChanged();
    return true;
}

void TPlayerCore::OpenAndPlay(const std::string& name) {
    std::string next = name;
    for (int tries = list_.Count(); PrepareOpen(next); --tries) {
        if (OpenPrepared(next) == S_OK) {
            PlayOpened();
            return;
        }
        ShowFailure("cannot play", next, WhyNotPlayable(next));
        if (tries <= 1)
            return;
        next = NextAfterFailure();
    }
}

std::string TPlayerCore::NextAfterFailure() {
    if (RepeatMode == 2)
        return list_.Next();
    if (RepeatMode == 3)
        return list_.Random();
    const TFile* current = list_.Current();
    const int position = current ? list_.PositionOf(current) : -1;
    return position >= 0 && position + 1 < list_.Count() ? list_.Select(position + 1) : "";
}

void TPlayerCore::PlayEntry(const std::string& name) {
    if (player_) {
        RememberLeft();
        player_->Close();
    }
    if (!PrepareOpen(name))
        return;
    if (OpenPrepared(name) != S_OK)
        ShowFailure("cannot play", name, WhyNotPlayable(name));
    // Play even so, as the engine expects after every open.
    PlayOpened();
}

void TPlayerCore::CloseOpenFile() {
    if (!player_)
        return;
    playHeld_ = false;
    const std::int32_t state = State();
    if (state != PLAYER_NOFILE) {
        RememberLeft();
        player_->Close();
    }
}

void TPlayerCore::ReplaceList(const std::vector<std::string>& names) {
    list_.BeginUpdate();
    list_.ClearList();
    for (const std::string& n : names)
        list_.Add(n);
    list_.EndUpdate();
}

void TPlayerCore::OpenFileList(const std::vector<std::string>& names) {
    CloseOpenFile();
    ReplaceList(names);
    OpenAndPlay(list_.Select(0));
}

void TPlayerCore::DropFiles(const std::vector<std::string>& names, bool append) {
    int first = list_.Count();
    if (!append) {
        list_.ClearList();
        first = 0;
    }
    list_.BeginUpdate();
    for (const std::string& n : names)
        list_.Add(n);
    list_.EndUpdate();
    if (list_.Count() > first)
        OpenAndPlay(list_.Select(first));
}

void TPlayerCore::HandOff(const std::vector<std::string>& names) {
    // The file that plays goes on until one of the new names opens.
    list_.ClearList();
    list_.BeginUpdate();
    for (const std::string& n : names)
        list_.Add(n);
    list_.EndUpdate();
    OpenAndPlay(list_.Select(0));
}

void TPlayerCore::PlayBookmark(int id) {
    CloseOpenFile();
    list_.ClearList();
    Bookmarks().AddToPlayList(id, list_);
    OpenAndPlay(list_.Select(0));
}

// --- The engine's reports ---------------------------------------------------

std::string TPlayerCore::PlayingName() const {
    const char* name = nullptr;
    return player_ && player_->GetFileName(&name) == S_OK && name ? name : "";
}

std::string TPlayerCore::Opened() {
    played_ = true;
    ReadChaptersOfOpenFile();
    return PlayingName();
}

void TPlayerCore::HandleEndOfStream() {
    RememberEnded();
    switch (RepeatMode) {
    case 0:
        emit finished();
        break;
    case 1:
        ended_ = false; // heard again from the start
        player_->Play();
        break;
    case 2:
    case 3: {
        if (list_.Count() == 1) {
            ended_ = false;
            player_->Play();
            break;
        }
        const std::string name = RepeatMode == 2 ? list_.Next() : list_.Random();
        if (name.empty())
            player_->Close();
        else
            OpenAndPlay(name);
        break;
    }
    default:
        break;
    }
}

void TPlayerCore::HandlePlaybackFailure() {
    ShowFailure("cannot play", PlayingName(),
                "playback stopped: the file is damaged or cannot be decoded");
    const std::string next = list_.Count() > 1 ? NextAfterFailure() : "";
    if (!next.empty())
        OpenAndPlay(next);
    else
        emit finished();
}

void TPlayerCore::ShowFailure(const std::string& what, const std::string& path,
                              const std::string& why) {
    std::fprintf(stderr, "zarnplayer: %s %s: %s\n", what.c_str(), path.c_str(), why.c_str());
    ++failures_;
    QString text = QFile::decodeName(
        QByteArray::fromStdString(what + " " + std::string(FileNamePart(path)) + ": " + why));
    text[0] = text[0].toUpper();
    emit failed(text);
}
