// A tag reader for the analysis pass that keeps one file's reading waiting
// until the test lets it go, so that entry stays busy for as long as wanted.
#pragma once

#include "player/list/Filelist.h"

#include <condition_variable>
#include <mutex>
#include <string>

class HeldReader {
public:
    explicit HeldReader(std::string held) : held_(std::move(held)) {}
    ~HeldReader() { Release(); }
    HeldReader(const HeldReader&) = delete;
    HeldReader& operator=(const HeldReader&) = delete;

    // Give it to the list before the pass starts; the list must drop it (or
    // end its pass) before this object goes.
    TFileList::TagReader Reader() {
        return [this](const std::string& name) {
            if (name == held_) {
                std::unique_lock<std::mutex> lock(m_);
                released_.wait(lock, [this] { return free_; });
            }
            return TFile::ReadTags(name);
        };
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(m_);
            free_ = true;
        }
        released_.notify_all();
    }

private:
    const std::string held_;
    std::mutex m_;
    std::condition_variable released_;
    bool free_ = false;
};
