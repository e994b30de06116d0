// The player core's chapters: read once per opened file, and the commands
// that move by them. Every move is a seek in the file's own time.
#include "player/core/Player.h"

#include "player/list/Filelist.h"

namespace {

// 100 ns units.
constexpr std::int64_t Second = 10'000'000;
// A position this close before a chapter's start counts as in it: the
// position reported right after a seek may lie a little before its target,
// and a second Next must not land on the same chapter again.
constexpr std::int64_t StartSlack = Second / 5;
// Previous chapter within this much of a chapter's start goes to the one
// before.
constexpr std::int64_t BackToPrevious = 3 * Second;

} // namespace

void TPlayerCore::ReadChaptersOfOpenFile() {
    // The probe's reading, when the listed file has had one; otherwise the
    // file is read here, as the engine reads it anyway to play it.
    const TFile* current = list_.Current();
    if (current && current->Chapters && current->FileName == PlayingName()) {
        chapters_ = *current->Chapters;
        emit chaptersChanged();
        return;
    }
    const TChapterList read = ReadChapters(PlayingName());
    chapters_ = read ? *read : std::vector<TChapter>{};
    emit chaptersChanged();
}

void TPlayerCore::ForgetChapters() {
    if (chapters_.empty())
        return;
    chapters_.clear();
    emit chaptersChanged();
}

int TPlayerCore::ChapterAt(std::int64_t position) const {
    int at = -1;
    for (int i = 0; i < ChapterCount() && chapters_[i].Start <= position; ++i)
        at = i;
    return at;
}

int TPlayerCore::CurrentChapter() const {
    return chapters_.empty() ? -1 : ChapterAt(Position() + StartSlack);
}

std::string TPlayerCore::ChapterTitle(int index) const {
    if (index < 0 || index >= ChapterCount())
        return {};
    const std::string& title = chapters_[index].Title;
    return title.empty() ? "Chapter " + std::to_string(index + 1) : title;
}

std::string TPlayerCore::CurrentChapterText() const {
    const int current = CurrentChapter();
    if (current < 0)
        return {};
    return ChapterTitle(current) + " " + std::to_string(current + 1) + "/" +
           std::to_string(ChapterCount());
}

std::int64_t TPlayerCore::CurrentChapterEnd() const {
    if (chapters_.empty())
        return Duration();
    // The chapter that is heard, without the allowance the commands take:
    // the sleep timer must see this chapter's end until it has passed.
    const std::int64_t position = Position();
    const int current = ChapterAt(position);
    if (current < 0)
        return chapters_.front().Start;
    const std::int64_t next = current + 1 < ChapterCount() ? chapters_[current + 1].Start : -1;
    const std::int64_t end = chapters_[current].End;
    // Past its own end, before the next one: the gap ends where that starts,
    // as the stretch before the first chapter does.
    if (end >= 0 && (end >= position || next < 0))
        return end;
    return next >= 0 ? next : Duration();
}

void TPlayerCore::GoToChapter(int index) {
    if (!FileOpen() || index < 0 || index >= ChapterCount())
        return;
    SeekTo(chapters_[index].Start);
}

void TPlayerCore::NextChapter() {
    const int current = CurrentChapter();
    if (!chapters_.empty() && current + 1 < ChapterCount())
        GoToChapter(current + 1);
}

void TPlayerCore::PrevChapter() {
    if (chapters_.empty())
        return;
    const int current = CurrentChapter();
    if (current < 0) {
        // Before the first chapter: the file's beginning.
        if (FileOpen())
            SeekTo(0);
        return;
    }
    const bool nearStart = Position() - chapters_[current].Start < BackToPrevious;
    GoToChapter(nearStart && current > 0 ? current - 1 : current);
}
