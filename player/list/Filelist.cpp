#include "player/list/Filelist.h"

#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/regularfile.h"
#include "player/config/Debug.h"
#include "player/config/Extention.h"
#include "player/config/Option.h"
#include "player/config/Tool.h"
#include "player/list/M3u.h"
#include "player/list/Random.h"
#include "player/probe/Probe.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <locale>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int MaxRandomDraws = 4095;
// Far beyond a list of every file of a large collection.
constexpr std::size_t kMaxListSize = 64 << 20;

std::string Join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + '/' + name;
}

// The names of a folder in the order the system returns them, without
// "." and ".."; nothing when it cannot be opened (for a plain file, say).
std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (dirent* d = ::readdir(dir)) {
        std::string_view name = d->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

// The user's collation; the byte order when the environment names a locale
// the system does not have.
const std::collate<char>& UserCollation() {
    static const std::locale loc = [] {
        try {
            return std::locale("");
        } catch (const std::runtime_error&) {
            return std::locale::classic();
        }
    }();
    return std::use_facet<std::collate<char>>(loc);
}

} // namespace

std::vector<std::string> ParseListText(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

std::string FormatListText(std::span<const std::string> names) {
    std::string text;
    for (const std::string& name : names) {
        text += name;
        text += "\r\n";
    }
    return text;
}

TFileList::TFileList(std::string defaultList) : defaultList_(std::move(defaultList)) {}

TFileList::~TFileList() {
    Finish();
}

void TFileList::SetHooks(Hooks hooks) {
    std::lock_guard<std::mutex> lock(lock_);
    hooks_ = std::move(hooks);
}

void TFileList::SetTagReader(TagReader reader) {
    std::lock_guard<std::mutex> lock(lock_);
    tagReader_ = std::move(reader);
}

void TFileList::ProcessPendingEvents() {
    if (hooks_.ProcessPendingEvents)
        hooks_.ProcessPendingEvents();
}

TFile* TFileList::NewEntry(std::string fileName) {
    auto entry = std::make_shared<TFile>(std::move(fileName));
    entry->Owner = this;
    {
        std::lock_guard<std::mutex> lock(lock_);
        items_.push_back(entry);
    }
    if (view_)
        entry->Row = view_->AppendRow(entry->Title, entry->TimeText, entry.get());
    return entry.get();
}

// Takes an entry that has already left items_ off the screen; the object
// itself lives on while a pass or a waiting result still holds it.
void TFileList::Detach(const std::shared_ptr<TFile>& entry) {
    if (current_ == entry.get())
        current_ = nullptr;
    if (entry->Row && view_)
        view_->DeleteRow(entry->Row);
    entry->Row = nullptr;
    entry->Owner = nullptr;
    entry->Id3.reset();
    entry->RiffInfo.reset();
}

void TFileList::ShowCount() {
    if (view_)
        view_->SetCountText(std::to_string(items_.size()));
}

void TFileList::Add(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        NewEntry(path);
    else
        AddFolder(path);
}

void TFileList::AddFolder(const std::string& path) {
    std::vector<std::pair<dev_t, ino_t>> visited;
    AddFolderWalk(path, visited);
}

// A folder reached twice on one walk (through a link back up the tree) is
// walked only the first time, so a loop of links cannot recurse forever.
void TFileList::AddFolderWalk(const std::string& path,
                              std::vector<std::pair<dev_t, ino_t>>& visited) {
    if (ClosingFlag.load())
        return;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
        if (std::find(visited.begin(), visited.end(), id) != visited.end())
            return;
        visited.push_back(id);
    }
    AddFolderFiles(path);
    // The windows had their turn in AddFolderFiles: a close there ends the
    // walk, so the program ends without scanning the rest of the tree.
    if (ClosingFlag.load())
        return;
    for (const std::string& name : FolderNames(path))
        AddFolderWalk(Join(path, name), visited);
}

// A pipe, socket or device node named like a media file is left out: the
// readers and the engine would wait on it for ever.
void TFileList::AddFolderFiles(const std::string& path) {
    ProcessPendingEvents();
    for (const std::string& name : FolderNames(path)) {
        if (!Extentions().Matches(name))
            continue;
        const std::string full = Join(path, name);
        struct stat st {};
        if (::stat(full.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
            continue;
        NewEntry(full);
    }
}

bool TFileList::LoadFromFile(const std::string& path) {
    FileContent content = ReadRegularFile(path, kMaxListSize);
    if (content.status == FileContent::Status::Unreadable) {
        std::string message = "The play list " + path + " cannot be read (" + content.error + ")";
        // The default list is then kept as it is rather than saved over.
        if (path == defaultList_) {
            defaultListUnreadable_ = true;
            message += "; it is not saved over when the player ends";
        }
        std::fprintf(stderr, "zarnplayer: %s\n", message.c_str());
        if (hooks_.ShowError)
            hooks_.ShowError(message);
        return false;
    }
    if (path == defaultList_)
        defaultListUnreadable_ = false;
    const std::string& text = content.text;
    if (!IsM3uName(path)) {
        for (std::string& line : ParseListText(text))
            NewEntry(std::move(line));
        return true;
    }
    size_t slash = path.rfind('/');
    M3uEntries m3u =
        ParseM3uText(text, slash == std::string::npos ? std::string() : path.substr(0, slash + 1));
    for (std::string& name : m3u.Files)
        NewEntry(std::move(name));
    for (const std::string& url : m3u.Skipped)
        std::fprintf(stderr, "zarnplayer: %s: left out %s: only local files can be played\n",
                     path.c_str(), url.c_str());
    return true;
}

void TFileList::SaveToFile(const std::string& path) const {
    std::vector<std::string> names;
    names.reserve(items_.size());
    for (const auto& entry : items_)
        names.push_back(entry->FileName);
    profile::ReplaceFileAtomically(path, FormatListText(names));
}

void TFileList::Clear() {
    for (;;) {
        std::shared_ptr<TFile> first;
        {
            std::unique_lock<std::mutex> lock(lock_);
            if (items_.empty())
                break;
            if (items_.front()->Busy.load()) {
                // The pass finishes one entry within two short file reads;
                // the windows keep handling events meanwhile.
                lock.unlock();
                ProcessPendingEvents();
                lock.lock();
                busyCleared_.wait_for(lock, std::chrono::milliseconds(10),
                                      [&] { return items_.empty() || !items_.front()->Busy; });
                continue;
            }
            first = items_.front();
            items_.erase(items_.begin());
        }
        Detach(first);
    }
    current_ = nullptr;
    if (updateCount_ == 0)
        ShowCount();
}

void TFileList::ClearList() {
    if (view_)
        view_->BeginRowUpdate();
    Clear();
    if (view_)
        view_->EndRowUpdate();
}

bool TFileList::Remove(int position) {
    std::shared_ptr<TFile> entry;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (position < 0 || position >= static_cast<int>(items_.size()))
            return false;
        auto it = items_.begin() + position;
        if ((*it)->Busy.load())
            return false;
        entry = *it;
        items_.erase(it);
    }
    Detach(entry);
    if (updateCount_ == 0)
        ShowCount();
    return true;
}

void TFileList::Move(int from, int to) {
    std::lock_guard<std::mutex> lock(lock_);
    int n = static_cast<int>(items_.size());
    if (from < 0 || from >= n || to < 0 || to >= n || from == to)
        return;
    auto first = items_.begin();
    if (from < to)
        std::rotate(first + from, first + from + 1, first + to + 1);
    else
        std::rotate(first + to, first + from, first + from + 1);
}

void TFileList::Relist() {
    if (!view_)
        return;
    view_->BeginRowUpdate();
    for (int i = 0; i < Count(); ++i) {
        TFile* entry = Item(i);
        ListRow* row = view_->RowAt(i);
        if (!row)
            continue;
        view_->SetRow(row, entry->Title, entry->TimeText, entry);
        entry->Row = row;
        view_->SetRowImage(row, entry == current_ ? 1 : 0);
    }
    view_->EndRowUpdate();
}

int TFileList::PositionOf(const TFile* entry) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].get() == entry)
            return static_cast<int>(i);
    return -1;
}

std::string TFileList::Select(int position) {
    if (items_.empty())
        return {};
    if (current_ && current_->Row && view_)
        view_->SetRowImage(current_->Row, 0);
    if (position < 0 || position >= Count())
        return {};
    current_ = Item(position);
    if (current_->Row && view_) {
        view_->SetRowImage(current_->Row, 1);
        view_->MakeRowVisible(current_->Row);
    }
    return current_->FileName;
}

std::string TFileList::Next() {
    if (items_.empty())
        return {};
    int position = current_ ? PositionOf(current_) + 1 : 0;
    if (position >= Count())
        position = 0;
    return Select(position);
}

std::string TFileList::Prev() {
    if (items_.empty())
        return {};
    int position = current_ ? PositionOf(current_) - 1 : 0;
    if (position < 0)
        position = Count() - 1;
    return Select(position);
}

std::string TFileList::Random() {
    if (items_.empty())
        return {};
    const int count = Count();
    int unplayed = 0;
    for (const auto& entry : items_)
        unplayed += entry->Played ? 0 : 1;
    if (unplayed == 0) {
        for (const auto& entry : items_)
            entry->Played = false;
        unplayed = count;
    }
    int position = -1;
    for (int draw = 0; draw < MaxRandomDraws && position < 0; ++draw) {
        int r = RandomDraw() % count;
        if (!Item(r)->Played)
            position = r;
    }
    // Draws that kept hitting chosen entries: pick among the rest directly,
    // so the round still visits every entry once.
    if (position < 0) {
        int k = RandomDraw() % unplayed;
        for (int i = 0; i < count; ++i)
            if (!Item(i)->Played && k-- == 0) {
                position = i;
                break;
            }
    }
    Item(position)->Played = true;
    return Select(position);
}

void TFileList::Sort(TSortKind kind) {
    const int count = Count();
    switch (kind) {
    case TSortKind::ByName: {
        const auto& coll = UserCollation();
        std::lock_guard<std::mutex> lock(lock_);
        std::sort(items_.begin(), items_.end(), [&](const auto& a, const auto& b) {
            const std::string& x = a->FileName;
            const std::string& y = b->FileName;
            return coll.compare(x.data(), x.data() + x.size(), y.data(), y.data() + y.size()) < 0;
        });
        return;
    }
    case TSortKind::Shuffle:
        for (const auto& entry : items_)
            entry->SortKey = RandomDraw() % count;
        break;
    case TSortKind::Reverse:
        for (int i = 0; i < count; ++i)
            Item(i)->SortKey = -i;
        break;
    }
    std::lock_guard<std::mutex> lock(lock_);
    std::sort(items_.begin(), items_.end(),
              [](const auto& a, const auto& b) { return a->SortKey < b->SortKey; });
}

int TFileList::IndexOf(std::string_view fileName) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i]->FileName == fileName)
            return static_cast<int>(i);
    return -1;
}

void TFileList::BeginUpdate() {
    ++updateCount_;
    if (view_)
        view_->SetCountText("----");
}

void TFileList::EndUpdate() {
    if (updateCount_ > 0)
        --updateCount_;
    if (updateCount_ > 0)
        return;
    ShowCount();
    if (!items_.empty() && Options().AnalyzeFileInfo != 0)
        analyzer_.Start();
    if (hooks_.UpdatePrevNext)
        hooks_.UpdatePrevNext();
}

// Each pass stamps the entries it has taken, and takes next the first
// unstamped entry from where it stands (then from the top), all under the
// list lock: entries removed, added or reordered meanwhile are neither read
// outside the list nor skipped nor read twice in one pass. The entry in hand
// is shared and stays alive until the pass is done with it. Results go back
// to the GUI thread, which owns the texts.
namespace {

// The file opened here (a regular file, without waiting) and read by the
// probe; a failure costs this file its tags and is said once.
TFile::Tags ReadThroughProbe(TProbe& probe, const std::string& fileName) {
    TFile::Tags tags;
    const int fd = OpenRegularFile(fileName);
    if (fd < 0)
        return tags;
    TProbe::Outcome out = probe.Read(fd, fileName);
    ::close(fd);
    if (!out.Failure.empty()) {
        std::fprintf(stderr, "zarnplayer: %s\n", out.Failure.c_str());
        LogSink().LogError(LOG_SOURCE, out.Failure.c_str());
    }
    tags.Probed = std::move(out.Answer);
    return tags;
}

} // namespace

bool TFileList::AnalyzeAll(AnalyzeFileInfo& pass) {
    // One probe for the pass, started when the first file needs it.
    TProbe probe(TProbe::ProgramPath(),
                 [&pass] { return ClosingFlag.load() || pass.StopRequested(); });
    std::uint64_t stamp = 0;
    size_t from = 0;
    auto restart = [&] {
        std::lock_guard<std::mutex> lock(lock_);
        stamp = ++passStamp_;
        from = 0;
    };
    restart();
    for (;;) {
        std::shared_ptr<TFile> entry;
        TagReader reader;
        {
            std::lock_guard<std::mutex> lock(lock_);
            reader = tagReader_;
            auto unstamped = [&](const auto& e) { return e->PassStamp != stamp; };
            auto start = items_.begin() + static_cast<long>(std::min(from, items_.size()));
            auto it = std::find_if(start, items_.end(), unstamped);
            if (it == items_.end()) {
                it = std::find_if(items_.begin(), start, unstamped);
                if (it == start)
                    return true;
            }
            from = static_cast<size_t>(it - items_.begin()) + 1;
            entry = *it;
            entry->PassStamp = stamp;
            entry->Busy.store(true);
        }
        TFile::Tags tags =
            reader ? reader(entry->FileName) : ReadThroughProbe(probe, entry->FileName);
        std::function<void()> ready;
        {
            std::lock_guard<std::mutex> lock(lock_);
            pending_.push_back({entry, std::move(tags)});
            entry->Busy.store(false);
            ready = hooks_.AnalysisReady;
        }
        busyCleared_.notify_all();
        if (ready)
            ready();
        if (ClosingFlag.load() || pass.StopRequested())
            return false;
        if (pass.TakeRestart())
            restart();
    }
}

int TFileList::ApplyAnalysis() {
    std::vector<Result> results;
    {
        std::lock_guard<std::mutex> lock(lock_);
        results.swap(pending_);
    }
    int applied = 0;
    for (Result& r : results) {
        if (r.entry->Owner != this)
            continue;
        r.entry->ApplyTags(std::move(r.tags));
        ++applied;
    }
    return applied;
}

void TFileList::Finish() {
    if (finished_)
        return;
    finished_ = true;
    analyzer_.Stop();
    current_ = nullptr;
    if (!defaultList_.empty() && !defaultListUnreadable_) {
        try {
            SaveToFile(defaultList_);
        } catch (const profile::Error& e) {
            std::string message = std::string("The play list could not be saved: ") + e.what();
            std::fprintf(stderr, "zarnplayer: %s\n", message.c_str());
            if (hooks_.ShowError)
                hooks_.ShowError(message);
        }
    }
    Clear();
    std::lock_guard<std::mutex> lock(lock_);
    pending_.clear();
}

TFileList& FileList() {
    static TFileList list(paths::DataDir() + "default.lst");
    return list;
}
