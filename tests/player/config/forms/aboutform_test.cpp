#include "player/config/Aboutform.h"
#include "player/config/WindowColours.h"
#include "tests/support/FakePlayer.h"
#include "tests/support/Windows.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

using zarntest::App;
using zarntest::SaveScreenshot;

QString MemoText(TAbout& about) {
    return about.findChild<QPlainTextEdit*>("Memo1")->toPlainText();
}

// Takes the URLs the dialog hands to the desktop instead of opening them.
struct UrlCatcher : QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

TEST(AboutForm, ShowsTheVersionAndBothEngineTexts) {
    App();
    FakePlayer player;
    TAbout about(nullptr, &player, "", "");
    EXPECT_EQ(about.windowTitle(), "Version Info - zarnplayer ver 0.3.5");
    EXPECT_EQ(about.findChild<QLabel*>("Label1")->text(), "zarnplayer ver 0.3.5");
    EXPECT_EQ(MemoText(about), "zarnplayer ver 0.3.5 (2001/10/5)\nengine 1.0\nextra text");
    EXPECT_TRUE(about.findChild<QPlainTextEdit*>("Memo1")->isReadOnly());
    EXPECT_EQ(about.size(), QSize(240, 183));
    about.show();
    EXPECT_TRUE(SaveScreenshot(about, "aboutform"));
}

TEST(AboutForm, AFailingSecondTextIsLeftOutAndAFailingFirstIsNot) {
    App();
    FakePlayer player;
    player.extraResult = E_FAIL;
    player.infoResult = E_FAIL;
    TAbout about(nullptr, &player, "", "");
    EXPECT_EQ(MemoText(about), "zarnplayer ver 0.3.5 (2001/10/5)\nengine 1.0");
}

TEST(AboutForm, AnEmptyFirstTextAddsAnEmptyLine) {
    App();
    FakePlayer player;
    player.info.clear();
    TAbout about(nullptr, &player, "", "");
    EXPECT_EQ(MemoText(about), "zarnplayer ver 0.3.5 (2001/10/5)\n\nextra text");
}

TEST(AboutForm, AnUnterminatedEngineTextIsReadUpToTheBufferEnd) {
    App();
    FakePlayer player;
    player.fillWholeBuffer = true;
    player.extraResult = E_FAIL;
    TAbout about(nullptr, &player, "", "");
    QStringList lines = MemoText(about).split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1], QString(1024, 'x'));
}

TEST(AboutForm, LinksAreHiddenWithoutATargetAndOpenWithTheDesktop) {
    App();
    FakePlayer player;
    {
        TAbout about(nullptr, &player, "", "");
        about.show();
        EXPECT_FALSE(about.findChild<QLabel*>("Label4")->isVisible());
        EXPECT_FALSE(about.findChild<QLabel*>("Label5")->isVisible());
    }
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("mailto", &catcher, "open");
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    TAbout about(nullptr, &player, "team@example.org", "/opt/zarn/doc/index.htm");
    about.show();
    QLabel* mail = about.findChild<QLabel*>("Label4");
    QLabel* help = about.findChild<QLabel*>("Label5");
    ASSERT_TRUE(mail->isVisible() && help->isVisible());
    EXPECT_TRUE(mail->text().contains("text-decoration:underline"));
    EXPECT_EQ(mail->cursor().shape(), Qt::PointingHandCursor);
    emit mail->linkActivated("mailto:team@example.org");
    emit help->linkActivated(QUrl::fromLocalFile("/opt/zarn/doc/index.htm").toString());
    ASSERT_EQ(catcher.opened.size(), 2);
    EXPECT_EQ(catcher.opened[0], QUrl("mailto:team@example.org"));
    EXPECT_EQ(catcher.opened[1].toLocalFile(), "/opt/zarn/doc/index.htm");
    EXPECT_TRUE(mail->text().contains("href=\"mailto:team@example.org\""));
    EXPECT_TRUE(help->text().contains("href=\"file:///opt/zarn/doc/index.htm\""));
    QDesktopServices::unsetUrlHandler("mailto");
    QDesktopServices::unsetUrlHandler("file");
}

// The links read on every palette, a high-contrast black one too, and the
// version text has a name for a screen reader.
TEST(AboutForm, LinksReadOnEveryPaletteAndEveryStopIsNamed) {
    App();
    FakePlayer player;
    for (const QPalette& palette :
         {QApplication::palette(), HighContrastPalette(false), HighContrastPalette(true)}) {
        zarntest::AppPalette applied(palette);
        TAbout about(nullptr, &player, "team@example.org", "/opt/zarn/doc/index.htm");
        about.show();
        QLabel* help = about.findChild<QLabel*>("Label5");
        const QColor ground = help->palette().color(QPalette::Window);
        EXPECT_GE(zarntest::PixelsStandingOut(*help, ground, 4.5), 1)
            << ground.name().toStdString();
        EXPECT_TRUE(zarntest::UnnamedFocusable(about).empty())
            << testing::PrintToString(zarntest::UnnamedFocusable(about));
    }
}

TEST(AboutForm, CloseEndsTheDialog) {
    App();
    FakePlayer player;
    TAbout about(nullptr, &player, "", "");
    about.show();
    QTest::mouseClick(about.findChild<QPushButton*>("Button1"), Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
}

// Tab goes round the links, the dialog's text and its button in reading
// order, and the hidden links are no stops.
TEST(AboutForm, TabGoesRoundInReadingOrder) {
    App();
    FakePlayer player;
    for (const char* target : {"", "x"}) {
        const bool links = *target != 0;
        TAbout about(nullptr, &player, links ? "team@example.org" : "",
                     links ? "/opt/zarn/doc/index.htm" : "");
        about.show();
        QApplication::setActiveWindow(&about);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&about));
        EXPECT_EQ(QApplication::focusWidget(), about.findChild<QPushButton*>("Button1"));
        const std::vector<std::string> faults = zarntest::TabOrderFaults(&about);
        EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
        const std::vector<QWidget*> stops = zarntest::TabChain(&about);
        EXPECT_EQ(stops.size(), links ? 4u : 2u);
        EXPECT_NE(std::find(stops.begin(), stops.end(), about.findChild<QPushButton*>("Button1")),
                  stops.end());
    }
}

#include "aboutform_test.moc"
