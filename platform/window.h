// What the engine and the hand-off know of a window: a target for posted
// messages, and for the video window a place to present decoded frames.
// The Qt side implements these; nothing here depends on a window toolkit.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class Window {
public:
    // Queues msg for the window's own (GUI) thread and returns at once.
    virtual void PostMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) = 0;

protected:
    ~Window() = default;
};

// One decoded picture in 32-bit BGRx, rows of exactly width * 4 bytes.
struct VideoFrame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

class VideoWindow : public Window {
public:
    // Called on the engine's streaming thread; the window paints it later.
    virtual void PresentFrame(std::shared_ptr<const VideoFrame> frame) = 0;
    // Enters or leaves full screen showing only the video.
    virtual void SetFullScreen(bool on) = 0;
    virtual bool IsFullScreen() const = 0;

protected:
    ~VideoWindow() = default;
};
