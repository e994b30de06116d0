// Records the null sink's monitor (left channel) of the test server, with the
// time each chunk arrived, to compare what was heard with the play cursor.
#pragma once

#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace testing_sound {

// Records the sink's monitor (left channel) with the time each chunk came.
class MonitorRecorder {
public:
    using Clock = std::chrono::steady_clock;

    explicit MonitorRecorder(int rate) : rate_(rate) {
        pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(rate), 2};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(5000, &spec));
        int err = 0;
        pa_ = pa_simple_new(nullptr, "zarn-test-recorder", PA_STREAM_RECORD, "zarn_null.monitor",
                            "monitor", &spec, nullptr, &attr, &err);
        if (pa_)
            thread_ = std::thread([this] { Run(); });
    }
    ~MonitorRecorder() { Finish(); }
    bool Ok() const { return pa_ != nullptr; }

    void Finish() {
        quit_ = true;
        if (thread_.joinable())
            thread_.join();
        if (pa_)
            pa_simple_free(pa_);
        pa_ = nullptr;
    }

    // The moment the first sample from `from` on louder than `level` was heard, by the
    // arrival time of its chunk less the samples that followed it and the
    // recording latency; and where it lies in the recording.
    bool Onset(double level, std::size_t from, Clock::time_point& at, std::size_t& index) const {
        std::lock_guard<std::mutex> g(lock_);
        for (const Chunk& c : chunks_) {
            for (std::size_t i = 0; i < c.samples.size(); ++i) {
                if (c.first + i >= from && std::abs(c.samples[i]) > level * 32768) {
                    const auto after = static_cast<double>(c.samples.size() - i) / rate_;
                    at = c.arrived - std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(after) + c.latency);
                    index = c.first + i;
                    return true;
                }
            }
        }
        return false;
    }
    std::vector<std::int16_t> Samples() const {
        std::lock_guard<std::mutex> g(lock_);
        std::vector<std::int16_t> all;
        for (const Chunk& c : chunks_)
            all.insert(all.end(), c.samples.begin(), c.samples.end());
        return all;
    }

private:
    struct Chunk {
        std::size_t first;
        Clock::time_point arrived;
        std::chrono::microseconds latency;
        std::vector<std::int16_t> samples;
    };
    void Run() {
        std::vector<std::int16_t> frame(2 * 220);
        std::size_t total = 0;
        while (!quit_) {
            int err = 0;
            if (pa_simple_read(pa_, frame.data(), frame.size() * 2, &err) < 0)
                return;
            const auto now = Clock::now();
            const pa_usec_t lat = pa_simple_get_latency(pa_, &err);
            Chunk c{total,
                    now,
                    std::chrono::microseconds(lat == static_cast<pa_usec_t>(-1) ? 0 : lat),
                    {}};
            for (std::size_t i = 0; i < frame.size(); i += 2)
                c.samples.push_back(frame[i]);
            total += c.samples.size();
            std::lock_guard<std::mutex> g(lock_);
            chunks_.push_back(std::move(c));
        }
    }

    const int rate_;
    pa_simple* pa_ = nullptr;
    std::atomic<bool> quit_{false};
    std::thread thread_;
    mutable std::mutex lock_;
    std::vector<Chunk> chunks_;
};

} // namespace testing_sound
