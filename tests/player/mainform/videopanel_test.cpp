#include "Fixture.h"

#include "player/mainform/Videopanel.h"

#include <QTest>

#include <thread>

namespace {

std::shared_ptr<VideoFrame> Frame(int w, int h, std::uint8_t blue) {
    auto f = std::make_shared<VideoFrame>();
    f->width = w;
    f->height = h;
    f->pixels.assign(static_cast<size_t>(w) * h * 4, 0);
    for (size_t i = 0; i < f->pixels.size(); i += 4)
        f->pixels[i] = blue; // BGRx: the first byte is blue
    return f;
}

} // namespace

TEST(FitRect, ScalesToFitKeepingTheAspectRatioCentred) {
    EXPECT_EQ(FitRect(QRect(0, 0, 640, 480), 320, 240), QRect(0, 0, 640, 480));
    EXPECT_EQ(FitRect(QRect(0, 0, 800, 300), 320, 240), QRect(200, 0, 400, 300));
    EXPECT_EQ(FitRect(QRect(1, 1, 300, 600), 320, 240), QRect(1, 188, 300, 225));
    EXPECT_TRUE(FitRect(QRect(0, 0, 100, 100), 0, 240).isNull());
}

TEST_F(WindowTest, FramesFromTheStreamingThreadArePaintedScaledOnBlack) {
    TMain& m = Started();
    m.resize(500, 400);
    m.Image1->hide();
    QApplication::processEvents();
    std::thread streaming([&] {
        for (int i = 0; i < 50; ++i)
            m.Panel2->PresentFrame(Frame(320, 240, static_cast<std::uint8_t>(i)));
        m.Panel2->PresentFrame(Frame(160, 60, 255));
    });
    streaming.join();
    QApplication::processEvents();
    EXPECT_EQ(m.Panel2->FrameSize(), QSize(160, 60));

    const QImage shot = m.Panel2->grab().toImage();
    const QRect inner = m.Panel2->contentsRect();
    const QRect video = FitRect(inner, 160, 60);
    ASSERT_LT(inner.top() + 2, video.top()) << "a wide frame leaves black bands";
    EXPECT_EQ(QColor(shot.pixel(video.center())), QColor(0, 0, 255));
    EXPECT_EQ(QColor(shot.pixel(inner.center().x(), inner.top() + 1)), QColor(Qt::black));

    // A picture shorter than its size says is never read.
    auto bad = Frame(160, 60, 7);
    bad->pixels.resize(100);
    m.Panel2->PresentFrame(bad);
    QApplication::processEvents();
    EXPECT_EQ(QColor(m.Panel2->grab().toImage().pixel(video.center())), QColor(0, 0, 255));
}

TEST_F(WindowTest, LogoStaysCentredAndLetsClicksThrough) {
    TMain& m = Started();
    m.resize(600, 500);
    QApplication::processEvents();
    EXPECT_EQ(m.Image1->size(), QSize(160, 120));
    EXPECT_LE(std::abs(m.Image1->geometry().center().x() - m.Panel2->rect().center().x()), 1);
    EXPECT_LE(std::abs(m.Image1->geometry().center().y() - m.Panel2->rect().center().y()), 1);
    EXPECT_TRUE(m.Image1->testAttribute(Qt::WA_TransparentForMouseEvents));
}
