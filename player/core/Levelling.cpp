#include "player/core/Levelling.h"

#include "platform/regularfile.h"
#include "player/probe/Probe.h"
#include "player/probe/Protocol.h"

#include <algorithm>
#include <utility>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

TLevelling::TLevelling(TLoudnessCache& cache, std::function<void()> ready, std::string program)
    : cache_(cache), ready_(std::move(ready)), program_(std::move(program)) {
    thread_ = std::thread([this] { Run(); });
}

TLevelling::~TLevelling() {
    Stop();
}

void TLevelling::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_);
        stop_ = true;
        ++generation_;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

unsigned TLevelling::CpuFor(std::uint64_t size) {
    // Decoding and metering run far faster than a second per megabyte for
    // every compressed type; uncompressed sound costs less still.
    const std::uint64_t seconds = 2 + size / (1u << 20);
    return static_cast<unsigned>(std::min<std::uint64_t>(seconds, probe::MaxMeasureCpu));
}

void TLevelling::Want(const std::string& playing, const std::vector<std::string>& next) {
    {
        std::lock_guard<std::mutex> lock(m_);
        const bool same =
            (!jobs_.empty() && jobs_.front().path == playing) || (busy_ && busy_->path == playing);
        if (!same)
            ++generation_;
        jobs_.clear();
        // What the thread measures now is not asked for again.
        const auto key = TLoudnessKey::Of(playing);
        const bool busy = busy_ && busy_->path == playing;
        if (!key || !cache_.Find(*key)) {
            if (!busy)
                jobs_.push_back({playing, true});
            if (!busy || busy_->estimate)
                jobs_.push_back({playing, false});
        }
        for (const std::string& path : next)
            if (path != playing)
                jobs_.push_back({path, false});
    }
    wake_.notify_all();
}

std::vector<TLevelling::Result> TLevelling::Take() {
    std::lock_guard<std::mutex> lock(m_);
    return std::exchange(results_, {});
}

int TLevelling::Measured() const {
    std::lock_guard<std::mutex> lock(m_);
    return measured_;
}

void TLevelling::Run() {
    // Below the player's threads: the measurement takes only spare time.
    sched_param param{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);
    std::uint64_t generation = 0;
    bool preparing = true;
    TProbe probe(program_, [this, &generation, &preparing] {
        std::lock_guard<std::mutex> lock(m_);
        return stop_ || (!preparing && generation != generation_);
    });
    // Started before the first file is asked for: its start is most of the
    // wait for a first estimate, and no file calls it off.
    probe.Prepare();
    preparing = false;
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_);
            wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
            if (stop_)
                return;
            job = jobs_.front();
            jobs_.pop_front();
            generation = generation_;
            busy_ = job;
        }
        struct Idle {
            TLevelling& l;
            ~Idle() {
                std::lock_guard<std::mutex> lock(l.m_);
                l.busy_.reset();
            }
        } idle{*this};
        const auto key = TLoudnessKey::Of(job.path);
        Result result{job.path, std::nullopt, {}};
        if (key && cache_.Find(*key)) {
            // Measured meanwhile (or tagged): nothing to do.
            continue;
        }
        const int fd = key ? OpenRegularFile(job.path) : -1;
        if (fd < 0) {
            result.Failure = "the file cannot be read";
        } else {
            TProbe::Measurement what;
            what.Seconds = job.estimate ? EstimateSeconds : 0;
            what.TruePeak = !job.estimate;
            what.CpuSeconds = job.estimate ? EstimateCpu : CpuFor(key->Size);
            TProbe::Measured m = probe.Measure(fd, job.path, what);
            ::close(fd);
            {
                std::lock_guard<std::mutex> lock(m_);
                if (stop_)
                    return;
                ++measured_;
                // Called off for another file: it comes again when wanted.
                if (generation != generation_ && !m.Answer)
                    continue;
            }
            if (m.Answer && m.Answer->Figure) {
                result.Figure = m.Answer->Figure;
                if (result.Figure->Whole) {
                    cache_.Store(*key, *result.Figure);
                    if (const std::string why = cache_.Save(); !why.empty())
                        result.Failure = "the loudness figures could not be saved: " + why;
                }
            } else {
                result.Failure = m.Answer ? m.Answer->Failure : m.Failure;
            }
            // A whole figure (from tags, or a short file) makes the rest of
            // this file's jobs needless; so does a failure, said once.
            if (!result.Figure || result.Figure->Whole) {
                std::lock_guard<std::mutex> lock(m_);
                std::erase_if(jobs_, [&](const Job& j) { return j.path == job.path; });
            }
        }
        {
            std::lock_guard<std::mutex> lock(m_);
            results_.push_back(std::move(result));
        }
        if (ready_)
            ready_();
    }
}
