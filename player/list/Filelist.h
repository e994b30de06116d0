// The play list model: the ordered entries, the cursor on the current one,
// the add, load, save, move and reorder operations, and the analysis pass
// that titles entries from their tags. Everything runs on the GUI thread
// except AnalyzeAll, which runs on the analysis thread and reads the list
// only under a short lock.
// The model lives in player/list, free of Qt; the window that shows it is
// player/playlist.
#pragma once

#include "player/list/File.h"
#include "player/list/PlayListView.h"
#include "player/list/Thread1.h"

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class TSortKind { ByName, Shuffle, Reverse };

// A list file's lines: a line ends at CR, LF or CR LF, the text ends at the
// first byte 0, and a final terminator adds no line.
std::vector<std::string> ParseListText(std::string_view text);
// Each name followed by CR LF.
std::string FormatListText(std::span<const std::string> names);

class TFileList {
public:
    // What the GUI supplies; each may be left empty.
    struct Hooks {
        // GUI thread: lets the windows handle their queued events.
        std::function<void()> ProcessPendingEvents;
        // Analysis thread: results wait; have the GUI thread call
        // ApplyAnalysis soon. Must return without waiting for the GUI.
        std::function<void()> AnalysisReady;
        // The main window's Prev/Next command states.
        std::function<void()> UpdatePrevNext;
        // Tells the user of a failure the program cannot repair.
        std::function<void(const std::string&)> ShowError;
    };

    // defaultList: the list saved when the model ends; empty saves nothing.
    explicit TFileList(std::string defaultList = {});
    ~TFileList();
    TFileList(const TFileList&) = delete;
    TFileList& operator=(const TFileList&) = delete;

    // The window and the hooks go before the windows do: stop the analysis,
    // then set an empty view and empty hooks.
    void SetView(IPlayListView* view) { view_ = view; }
    IPlayListView* View() const { return view_; }
    void SetHooks(Hooks hooks);
    const std::string& DefaultList() const { return defaultList_; }

    // An existing file is added whatever its extension; anything else is
    // walked as a folder (a path that names nothing adds nothing).
    void Add(const std::string& path);
    // The folder's media files, then each subfolder's, depth first.
    void AddFolder(const std::string& path);
    // The media files of this one folder (by extension only).
    void AddFolderFiles(const std::string& path);
    // Appends one entry per line; a missing file adds nothing. A file that
    // cannot be read (not a regular file, refused, implausibly large) adds
    // nothing, is told through ShowError and stderr, and gives false; the
    // default list is then not saved over at the end.
    // An .m3u or .m3u8 list is read as such (see ParseM3uText); addresses it
    // names that are not local files are left out with a line to stderr.
    bool LoadFromFile(const std::string& path);
    // Replaces the file atomically; throws profile::Error when it cannot.
    void SaveToFile(const std::string& path) const;

    // Removes every entry, waiting for one under analysis while the windows
    // keep responding; Current becomes none.
    void Clear();
    // Clear inside the view's update bracket, so the rows go at once.
    void ClearList();
    // Removes the entry at a position unless it is under analysis; false
    // when it stays (or there is none).
    bool Remove(int position);
    // Takes the entry out of its place and inserts it at to.
    void Move(int from, int to);
    // Rewrites every row from the entries, after a sort or a move.
    void Relist();

    std::string Select(int position);
    std::string Next();
    std::string Prev();
    // A drawn entry not yet chosen in this round; once every entry has been
    // chosen a new round begins.
    std::string Random();
    void Sort(TSortKind kind);
    int IndexOf(std::string_view fileName) const;

    void BeginUpdate();
    // At the outermost level: the count, an analysis pass when the option is
    // on, and the main window's Prev/Next states.
    void EndUpdate();

    int Count() const { return static_cast<int>(items_.size()); }
    TFile* Item(int position) const { return items_[static_cast<size_t>(position)].get(); }
    int PositionOf(const TFile* entry) const;
    TFile* Current() const { return current_; }
    int UpdateCount() const { return updateCount_; }

    // Analysis thread: one pass over every entry listed while it runs;
    // false when it was told to stop or the program is closing.
    bool AnalyzeAll(AnalyzeFileInfo& pass);
    // GUI thread: takes the waiting results into their entries (those still
    // listed); returns how many were taken.
    int ApplyAnalysis();
    // How the pass reads one file's tags: TFile::ReadTags unless replaced
    // (tests hold a reading to keep its entry busy).
    using TagReader = std::function<TFile::Tags(const std::string& fileName)>;
    void SetTagReader(TagReader reader);
    // Ends a running pass after its entry and waits for it.
    void StopAnalysis() { analyzer_.Stop(); }
    bool Analyzing() const { return analyzer_.Running(); }

    // The model's end: saves the default list (telling the user when it
    // cannot), then clears. Runs once; the destructor calls it too.
    void Finish();

private:
    TFile* NewEntry(std::string fileName);
    void Detach(const std::shared_ptr<TFile>& entry);
    void AddFolderWalk(const std::string& path, std::vector<std::pair<dev_t, ino_t>>& visited);
    void ShowCount();
    void ProcessPendingEvents();

    struct Result {
        std::shared_ptr<TFile> entry;
        TFile::Tags tags;
    };

    std::string defaultList_;
    bool defaultListUnreadable_ = false;
    IPlayListView* view_ = nullptr;
    Hooks hooks_;
    int updateCount_ = 0;
    TFile* current_ = nullptr;
    bool finished_ = false;

    // The list lock: guards items_ against the pass's reads (the GUI thread
    // writes only under it), each entry's Busy, pending_ and hooks_. A leaf:
    // nothing is called while it is held.
    mutable std::mutex lock_;
    std::condition_variable busyCleared_;
    std::vector<std::shared_ptr<TFile>> items_;
    std::vector<Result> pending_;
    std::uint64_t passStamp_ = 0; // the analysis thread's, under the list lock
    TagReader tagReader_;         // under the list lock

    AnalyzeFileInfo analyzer_{*this};
};

// The one play list of the program, ending with it; its default list is
// "default.lst" in the data folder.
TFileList& FileList();
