// The video panel of the main window (Panel2) and the borderless window
// that shows the video full screen. The engine hands frames over from its
// streaming thread; they are painted on the GUI thread, scaled to fit with
// their aspect ratio kept, on black.
#pragma once

#include "platform/window.h"

#include <QFrame>
#include <QImage>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QLabel;
class TMain;

// Where a frame of w x h is drawn inside area: as large as fits, centred.
QRect FitRect(const QRect& area, int w, int h);

class TFullScreenView : public QWidget {
    Q_OBJECT
public:
    explicit TFullScreenView(std::function<void(QPainter&, const QRect&)> paintVideo);

signals:
    void leaveRequested();

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;

private:
    std::function<void(QPainter&, const QRect&)> paintVideo_;
};

class TVideoPanel : public QFrame, public VideoWindow {
    Q_OBJECT
public:
    // notify receives the messages posted to this window.
    TVideoPanel(Window& notify, QWidget* parent);
    ~TVideoPanel() override;

    void PostMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override;
    void PresentFrame(std::shared_ptr<const VideoFrame> frame) override;
    void SetFullScreen(bool on) override;
    bool IsFullScreen() const override { return fullScreen_.load(); }

    QLabel* Image1 = nullptr;
    // The full-screen window while it exists (for its keys), else null.
    QWidget* FullScreenView() const { return fullView_; }
    // The frame now shown; empty before the first one.
    QSize FrameSize() const;

signals:
    void resized();
    void doubleClicked();
    // The user asked the full-screen window to close.
    void leaveFullScreenRequested();

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;

private:
    void PaintVideo(QPainter& p, const QRect& area);
    void ApplyFullScreen(bool on);
    void TakePending();

    Window& notify_;
    // Handed over by the streaming thread, taken by the GUI thread. A leaf
    // lock: nothing else is called while it is held.
    std::mutex frameLock_;
    std::shared_ptr<const VideoFrame> pending_;
    std::atomic<bool> wakePosted_{false};
    // GUI thread only.
    std::shared_ptr<const VideoFrame> shown_;
    QImage image_;
    std::atomic<bool> fullScreen_{false};
    TFullScreenView* fullView_ = nullptr;
};
