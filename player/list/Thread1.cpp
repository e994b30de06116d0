#include "player/list/Thread1.h"

#include "player/config/Debug.h"
#include "player/config/Tool.h"
#include "player/list/Filelist.h"

#include <pthread.h>
#include <sched.h>

void AnalyzeFileInfo::Start() {
    if (ClosingFlag.load())
        return;
    std::lock_guard<std::mutex> lock(m_);
    if (running_) {
        restart_ = true;
        return;
    }
    // A finished thread cleared running_ as its last step under m_, so
    // joining it here cannot wait on anything but its return.
    if (thread_.joinable())
        thread_.join();
    running_ = true;
    restart_ = false;
    thread_ = std::thread([this] { Execute(); });
}

void AnalyzeFileInfo::Stop() {
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
    stop_.store(false);
}

bool AnalyzeFileInfo::Running() const {
    std::lock_guard<std::mutex> lock(m_);
    return running_;
}

bool AnalyzeFileInfo::TakeRestart() {
    std::lock_guard<std::mutex> lock(m_);
    bool restart = restart_;
    restart_ = false;
    return restart;
}

void AnalyzeFileInfo::Execute() {
    // The lowest scheduling class: the pass only gets time nothing else wants.
    sched_param param{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);

    LogSink().LogTrace(LOG_SOURCE, "AnalyzeFileInfo::Execute()");
    for (;;) {
        LogSink().LogDebug(LOG_SOURCE, "!! start analyze");
        if (!list_.AnalyzeAll(*this))
            break;
        LogSink().LogDebug(LOG_SOURCE, "!! end analyze");
        std::lock_guard<std::mutex> lock(m_);
        if (!restart_) {
            running_ = false;
            return;
        }
        restart_ = false;
    }
    std::lock_guard<std::mutex> lock(m_);
    running_ = false;
}
