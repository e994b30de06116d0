// The bookmark list: named shortcuts to a set of media files or to a folder,
// kept in memory for the run as one keyed record per bookmark (keys ID, Title,
// Type, Path) and in "bookmark.txt" between runs. The model, free of Qt
// (player/bookmarks); the Bookmark menu and the bookmark editor
// (player/bookmarkforms) work on it; a bookmark refills the play list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TFileList;

// What a Bookmark-menu item shows and which bookmark ID it plays.
struct BookmarkMenuItem {
    std::string Caption;
    int Tag = 1;
};

class TBookmarks {
public:
    static constexpr std::string_view Header = "zarnplayer bookmark ver 1.00";

    // Record texts in menu order; duplicates allowed. The editor replaces
    // them as a whole on OK.
    std::vector<std::string> records;
    std::string fileName;

    // Reads "bookmark.txt" in paths::DataDir(), or the given file. A missing
    // file, or one whose first line is not exactly the header, gives an empty
    // list.
    void Load();
    void Load(std::string file);

    // Writes the header and the records, CR LF after every line, replacing
    // the file atomically. Only the running player calls this at its end: a
    // process that just forwards its command line must not, or it could put
    // a stale copy over what the user edited meanwhile. On failure the old
    // file stays intact, the reason goes to stderr and to LastError(), and
    // the result is false.
    bool Save();
    const std::string& LastError() const { return lastError_; }

    // The file's contents as Save writes them, and the records taken from
    // such contents as Load takes them.
    std::string FileText() const;
    void SetFileText(std::string_view data);

    // The last record's ID plus one (1 for an empty list; a missing or
    // malformed last ID counts as 1).
    int NextId() const;

    // Append a "Files" bookmark (Path = comma text of files) or a "Directory"
    // bookmark; return its ID.
    int AddFiles(std::string_view title, const std::vector<std::string>& files);
    int AddDirectory(std::string_view title, std::string_view folder);

    // "&" + index + ":" + Title, and the ID (default 1), of the record at index.
    BookmarkMenuItem FillMenuItem(int index) const;
    std::vector<BookmarkMenuItem> MenuItems() const;

    // Adds the files of every bookmark whose ID is id (a malformed ID counts
    // 0 here) to the play list, in list order, as one batch. Files that no
    // longer exist are skipped.
    void AddToPlayList(int id, TFileList& list) const;
    void AddToPlayList(int id) const;

private:
    int add(std::string_view title, std::string_view type, std::string_view path);

    std::string lastError_;
    // Set when the file existed but could not be read: saving then would
    // replace bookmarks we never saw.
    bool unreadable_ = false;
};

// A record's ID as a number: decimal digits with an optional sign, def for
// anything else.
int BookmarkId(std::string_view text, int def);

// The one bookmark list of the process.
TBookmarks& Bookmarks();
