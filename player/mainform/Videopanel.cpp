#include "player/mainform/Videopanel.h"

#include "player/widgets/Icons.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>

namespace {
// Tells the GUI thread that a new frame waits.
const QEvent::Type FrameReady = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type FullScreenChange = static_cast<QEvent::Type>(QEvent::registerEventType());

class FullScreenEvent : public QEvent {
public:
    explicit FullScreenEvent(bool on) : QEvent(FullScreenChange), on(on) {}
    bool on;
};
} // namespace

QRect FitRect(const QRect& area, int w, int h) {
    if (w <= 0 || h <= 0 || area.isEmpty())
        return {};
    QSize size(w, h);
    size.scale(area.size(), Qt::KeepAspectRatio);
    QRect r(QPoint(0, 0), size);
    r.moveCenter(area.center());
    return r;
}

TFullScreenView::TFullScreenView(std::function<void(QPainter&, const QRect&)> paintVideo)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), paintVideo_(std::move(paintVideo)) {
    setObjectName(QStringLiteral("FullScreenView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::BlankCursor);
}

void TFullScreenView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    paintVideo_(p, rect());
}

void TFullScreenView::mouseDoubleClickEvent(QMouseEvent*) {
    emit leaveRequested();
}

TVideoPanel::TVideoPanel(Window& notify, QWidget* parent) : QFrame(parent), notify_(notify) {
    setObjectName(QStringLiteral("Panel2"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setMinimumSize(0, 0);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(LogoPixmap());
    Image1->setFixedSize(160, 120);
    Image1->setAttribute(Qt::WA_TransparentForMouseEvents);
}

TVideoPanel::~TVideoPanel() {
    delete fullView_;
}

void TVideoPanel::PostMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
    notify_.PostMessage(msg, wParam, lParam);
}

void TVideoPanel::PresentFrame(std::shared_ptr<const VideoFrame> frame) {
    if (frame && (frame->width <= 0 || frame->height <= 0 ||
                  frame->pixels.size() <
                      static_cast<size_t>(frame->width) * static_cast<size_t>(frame->height) * 4))
        return; // a short buffer would be read past its end
    {
        std::lock_guard<std::mutex> lock(frameLock_);
        pending_ = std::move(frame);
    }
    // One wake-up at a time: frames that come faster than we paint replace
    // each other instead of piling up events.
    if (!wakePosted_.exchange(true))
        QCoreApplication::postEvent(this, new QEvent(FrameReady));
}

void TVideoPanel::TakePending() {
    wakePosted_.store(false);
    std::shared_ptr<const VideoFrame> frame;
    {
        std::lock_guard<std::mutex> lock(frameLock_);
        frame = std::move(pending_);
    }
    if (!frame)
        return;
    shown_ = std::move(frame);
    image_ = QImage(shown_->pixels.data(), shown_->width, shown_->height, shown_->width * 4,
                    QImage::Format_RGB32);
    update();
    if (fullView_)
        fullView_->update();
}

QSize TVideoPanel::FrameSize() const {
    return shown_ ? QSize(shown_->width, shown_->height) : QSize();
}

void TVideoPanel::SetFullScreen(bool on) {
    fullScreen_.store(on);
    if (QThread::currentThread() == thread())
        ApplyFullScreen(on);
    else
        QCoreApplication::postEvent(this, new FullScreenEvent(on));
}

void TVideoPanel::ApplyFullScreen(bool on) {
    if (on && !fullView_) {
        fullView_ = new TFullScreenView([this](QPainter& p, const QRect& r) { PaintVideo(p, r); });
        connect(fullView_, &TFullScreenView::leaveRequested, this,
                &TVideoPanel::leaveFullScreenRequested);
        // A right click in full screen asks for the panel's own pop-up menu.
        fullView_->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(fullView_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
            emit customContextMenuRequested(mapFromGlobal(fullView_->mapToGlobal(at)));
        });
        if (QWidget* w = window())
            fullView_->setGeometry(w->screen() ? w->screen()->geometry() : w->geometry());
        fullView_->showFullScreen();
        fullView_->activateWindow();
    } else if (!on && fullView_) {
        fullView_->hide();
        fullView_->deleteLater();
        fullView_ = nullptr;
        if (QWidget* w = window())
            w->activateWindow();
    }
    update();
}

bool TVideoPanel::event(QEvent* e) {
    if (e->type() == FrameReady) {
        TakePending();
        return true;
    }
    if (e->type() == FullScreenChange) {
        ApplyFullScreen(static_cast<FullScreenEvent*>(e)->on);
        return true;
    }
    return QFrame::event(e);
}

void TVideoPanel::PaintVideo(QPainter& p, const QRect& area) {
    if (image_.isNull())
        return;
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(FitRect(area, image_.width(), image_.height()), image_);
}

void TVideoPanel::paintEvent(QPaintEvent* e) {
    QFrame::paintEvent(e);
    QPainter p(this);
    const QRect area = contentsRect();
    p.fillRect(area, Qt::black);
    if (!fullView_ && !Image1->isVisible())
        PaintVideo(p, area);
}

void TVideoPanel::resizeEvent(QResizeEvent* e) {
    QFrame::resizeEvent(e);
    // The logo keeps its place relative to the panel's centre.
    QRect logo(QPoint(0, 0), Image1->size());
    logo.moveCenter(rect().center());
    Image1->move(logo.topLeft());
    emit resized();
}

void TVideoPanel::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton)
        emit doubleClicked();
}
