#include "player/bookmarks/Bookmark.h"

#include "platform/commatext.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/regularfile.h"
#include "player/bookmarks/Hashstring.h"
#include "player/list/Filelist.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

// Far beyond any list of bookmarks a person keeps.
constexpr std::size_t kMaxFileSize = 16 << 20;

// A name that is there and is not a folder, as a file to play.
bool isExistingFile(const std::string& name) {
    std::error_code ec;
    auto status = std::filesystem::status(name, ec);
    return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

} // namespace

int BookmarkId(std::string_view text, int def) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first == last)
        return def;
    int value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last)
        return def;
    return value;
}

void TBookmarks::Load() {
    Load(paths::DataDir() + "bookmark.txt");
}

void TBookmarks::Load(std::string file) {
    fileName = std::move(file);
    records.clear();
    unreadable_ = false;
    FileContent content = ReadRegularFile(fileName, kMaxFileSize);
    if (content.status == FileContent::Status::Unreadable) {
        unreadable_ = true;
        std::fprintf(stderr, "zarnplayer: cannot read the bookmarks in %s: %s\n", fileName.c_str(),
                     content.error.c_str());
        return;
    }
    SetFileText(content.text);
}

void TBookmarks::SetFileText(std::string_view data) {
    records.clear();
    std::vector<std::string> lines = SplitLines(data);
    if (lines.empty() || lines[0] != Header)
        return;
    records.assign(lines.begin() + 1, lines.end());
}

std::string TBookmarks::FileText() const {
    std::string data(Header);
    data += "\r\n";
    for (const auto& record : records) {
        data += record;
        data += "\r\n";
    }
    return data;
}

bool TBookmarks::Save() {
    lastError_.clear();
    if (fileName.empty())
        fileName = paths::DataDir() + "bookmark.txt";
    if (unreadable_) {
        lastError_ = fileName + ": not saved, because it could not be read at start";
    } else {
        try {
            profile::ReplaceFileAtomically(fileName, FileText());
            return true;
        } catch (const profile::Error& e) {
            lastError_ = e.what();
        }
    }
    std::fprintf(stderr, "zarnplayer: the bookmarks were not saved: %s\n", lastError_.c_str());
    return false;
}

int TBookmarks::NextId() const {
    if (records.empty())
        return 1;
    HashString record;
    record.SetText(records.back());
    int last = BookmarkId(record.Get("ID"), 1);
    // An ID that cannot grow is as useless as a malformed one.
    return last == INT_MAX ? 2 : last + 1;
}

int TBookmarks::add(std::string_view title, std::string_view type, std::string_view path) {
    HashString record;
    record.Set("ID", std::to_string(NextId()));
    record.Set("Title", title);
    record.Set("Type", type);
    record.Set("Path", path);
    records.push_back(record.GetText());
    return BookmarkId(record.Get("ID"), 1);
}

int TBookmarks::AddFiles(std::string_view title, const std::vector<std::string>& files) {
    return add(title, "Files", CommaText(files));
}

int TBookmarks::AddDirectory(std::string_view title, std::string_view folder) {
    return add(title, "Directory", folder);
}

BookmarkMenuItem TBookmarks::FillMenuItem(int index) const {
    HashString record;
    record.SetText(records.at(static_cast<size_t>(index)));
    return {"&" + std::to_string(index) + ":" + record.Get("Title"),
            BookmarkId(record.Get("ID"), 1)};
}

std::vector<BookmarkMenuItem> TBookmarks::MenuItems() const {
    std::vector<BookmarkMenuItem> items;
    for (int i = 0; i < static_cast<int>(records.size()); ++i)
        items.push_back(FillMenuItem(i));
    return items;
}

void TBookmarks::AddToPlayList(int id, TFileList& list) const {
    list.BeginUpdate();
    for (const std::string& text : records) {
        HashString record;
        record.SetText(text);
        if (BookmarkId(record.Get("ID"), 0) != id)
            continue;
        std::string type = record.Get("Type");
        if (type == "Files") {
            for (const std::string& file : ReadCommaText(record.Get("Path")))
                if (isExistingFile(file))
                    list.Add(file);
        } else if (type == "Directory") {
            list.Add(record.Get("Path"));
        }
    }
    list.EndUpdate();
}

void TBookmarks::AddToPlayList(int id) const {
    AddToPlayList(id, FileList());
}

TBookmarks& Bookmarks() {
    static TBookmarks bookmarks;
    return bookmarks;
}
