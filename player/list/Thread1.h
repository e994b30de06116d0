// The background analysis of the listed files: one thread at idle priority
// that walks the whole list, reads each file's tags and hands the results to
// the GUI thread. A new batch while a pass runs restarts that pass from the
// top instead of stacking another one; ClosingFlag ends it after the entry
// it is working on.
// Part of the play list model, player/list.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

class TFileList;

class AnalyzeFileInfo {
public:
    explicit AnalyzeFileInfo(TFileList& list) : list_(list) {}
    ~AnalyzeFileInfo() { Stop(); }
    AnalyzeFileInfo(const AnalyzeFileInfo&) = delete;
    AnalyzeFileInfo& operator=(const AnalyzeFileInfo&) = delete;

    // Starts a pass, or makes the running one start over after its entry.
    // Does nothing once ClosingFlag is set.
    void Start();
    // Makes a running pass end after its entry and waits until it has.
    void Stop();
    bool Running() const;

    // Asked by the pass after each entry.
    bool StopRequested() const { return stop_.load(); }
    bool TakeRestart();

private:
    void Execute();

    TFileList& list_;
    // Guards running_ and restart_; taken after the list's own lock, never
    // while holding it, and never held while calling out.
    mutable std::mutex m_;
    bool running_ = false;
    bool restart_ = false;
    std::atomic<bool> stop_{false};
    // Owned by the GUI thread: only Start and Stop touch it.
    std::thread thread_;
};
