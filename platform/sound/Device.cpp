#include "platform/sound/Backends.h"
#include "platform/sound/CaptureBuffer.h"

#include <atomic>
#include <cstdlib>

namespace sound {

std::unique_ptr<SoundBuffer> CreateNamedSoundBuffer(const std::string& device,
                                                    const PcmFormat& format, std::uint32_t size) {
    if (!format.IsValid() || size == 0)
        return nullptr;
    if (device == "null")
        return std::make_unique<NullBuffer>(format, size);
    if (device.rfind("wav:", 0) == 0)
        return WavBuffer::Create(device.substr(4), format, size);
    if (device.rfind("capture:", 0) == 0)
        return CaptureBuffer::Create(device.substr(8), format, size);
    if (device == "pulse")
        return CreatePulseBuffer(format, size);
    return nullptr;
}

std::unique_ptr<SoundBuffer> CreateSoundBuffer(const PcmFormat& format, std::uint32_t size) {
    const char* env = std::getenv("ZARN_AUDIO_DEVICE");
    std::string device = env && *env ? env : "pulse";
    if (device != "null" && device != "pulse" && device.rfind("wav:", 0) != 0 &&
        device.rfind("capture:", 0) != 0) {
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            Warn("ZARN_AUDIO_DEVICE=" + device +
                 " is not a sound device (pulse, null, wav:PATH, capture:PATH); "
                 "using pulse");
        device = "pulse";
    }
    if (auto b = CreateNamedSoundBuffer(device, format, size))
        return b;
    if (!format.IsValid() || size == 0)
        return nullptr;
    // Once per run: the player plays on, silently, on the wall clock.
    static std::atomic<bool> warned{false};
    if (!warned.exchange(true)) {
        if (device == "pulse")
            Warn("no sound server answered (PulseAudio or PipeWire); playing without sound");
        else
            Warn("cannot open the sound device " + device + "; playing without sound");
    }
    return std::make_unique<NullBuffer>(format, size);
}

} // namespace sound
