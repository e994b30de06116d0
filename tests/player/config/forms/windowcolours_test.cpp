// The windows' colours: the contrast measure, the high-contrast palettes and
// the application's palette following the desktop's setting. The program runs
// on GLib's in-memory settings (GSETTINGS_BACKEND=memory), so the desktop's
// keys are set here.
// Before Qt: GIO names a field "signals", a word Qt defines.
#include <gio/gio.h>

#include "player/config/WindowColours.h"
#include "tests/support/Windows.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

using zarntest::App;

const QColor White(Qt::white);
const QColor Black(Qt::black);

TEST(Contrast, RatioFollowsTheWcagDefinition) {
    EXPECT_NEAR(ContrastRatio(Black, White), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio(White, Black), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio(QColor(40, 170, 40), QColor(40, 170, 40)), 1.0, 1e-9);
    // The grey that just passes 4.5:1 on white, and one that just fails.
    EXPECT_NEAR(ContrastRatio(QColor(0x76, 0x76, 0x76), White), 4.54, 0.01);
    EXPECT_NEAR(ContrastRatio(QColor(0x77, 0x77, 0x77), White), 4.48, 0.01);
    // Pure primaries weigh by the eye's sensitivity; dark channels are linear.
    EXPECT_NEAR(RelativeLuminance(QColor(255, 0, 0)), 0.2126, 1e-6);
    EXPECT_NEAR(RelativeLuminance(QColor(0, 255, 0)), 0.7152, 1e-6);
    EXPECT_NEAR(RelativeLuminance(QColor(0, 0, 255)), 0.0722, 1e-6);
    EXPECT_NEAR(RelativeLuminance(QColor(10, 10, 10)), 10 / 255.0 / 12.92, 1e-9);
}

TEST(Contrast, ReadableOnKeepsAColourThatPassesAndMovesOneThatFails) {
    const QColor red(Qt::red);
    EXPECT_EQ(ReadableOn(red, Black, 4.5), red);
    for (const QColor& ground : {White, QColor(239, 239, 239), QColor(128, 128, 128)}) {
        for (double minimum : {3.0, 4.5, 7.0}) {
            // Where no colour reaches it, black or white comes nearest.
            const double best =
                std::max(ContrastRatio(Black, ground), ContrastRatio(White, ground));
            const QColor c = ReadableOn(red, ground, minimum);
            EXPECT_GE(ContrastRatio(c, ground), std::min(minimum, best))
                << ground.name().toStdString() << " " << minimum;
        }
    }
    // Toward black on a light ground, keeping the hue.
    const QColor onLight = ReadableOn(red, QColor(239, 239, 239), 4.5);
    EXPECT_LT(onLight.red(), 255);
    EXPECT_EQ(onLight.green(), 0);
    EXPECT_EQ(onLight.blue(), 0);
    // Toward white on a dark ground.
    const QColor onDark = ReadableOn(QColor(0, 90, 0), Black, 3.0);
    EXPECT_GT(onDark.red(), 0);
    EXPECT_GT(onDark.green(), onDark.red());
}

TEST(Contrast, HighContrastPalettesMeetTheRatios) {
    for (bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "inverse" : "normal");
        const QPalette p = HighContrastPalette(dark);
        EXPECT_EQ(RelativeLuminance(p.color(QPalette::Window)) < 0.5, dark);
        const std::pair<QPalette::ColorRole, QPalette::ColorRole> pairs[] = {
            {QPalette::WindowText, QPalette::Window},
            {QPalette::Text, QPalette::Base},
            {QPalette::Text, QPalette::AlternateBase},
            {QPalette::ButtonText, QPalette::Button},
            {QPalette::ToolTipText, QPalette::ToolTipBase},
            {QPalette::HighlightedText, QPalette::Highlight}};
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
            for (const auto& [ink, ground] : pairs)
                EXPECT_GE(ContrastRatio(p.color(g, ink), p.color(g, ground)), 7.0)
                    << "group " << g << " role " << ink;
            EXPECT_GE(
                ContrastRatio(p.color(g, QPalette::PlaceholderText), p.color(g, QPalette::Base)),
                4.5);
            // A selected row stands out from the others.
            EXPECT_GE(ContrastRatio(p.color(g, QPalette::Highlight), p.color(g, QPalette::Base)),
                      3.0);
        }
        for (const auto& [ink, ground] : pairs)
            EXPECT_GE(ContrastRatio(p.color(QPalette::Disabled, ink),
                                    p.color(QPalette::Disabled, ground)),
                      4.5)
                << "disabled role " << ink;
        for (QPalette::ColorRole text :
             {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            EXPECT_NE(p.color(QPalette::Disabled, text), p.color(QPalette::Active, text))
                << "disabled text looks disabled";
    }
}

// Lets GLib's loop deliver the settings' changes, as the program's loop does.
void Deliver() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

TEST(WindowColoursTest, FollowsTheDesktopAndGivesItsPaletteBack) {
    ASSERT_STREQ(std::getenv("GSETTINGS_BACKEND"), "memory")
        << "the test must never write the desktop's real settings";
    App();
    GSettings* a11y = g_settings_new("org.gnome.desktop.a11y.interface");
    GSettings* iface = g_settings_new("org.gnome.desktop.interface");
    const QPalette desktop = QGuiApplication::palette();
    const QString style = QApplication::style()->name();
    {
        WindowColours colours;
        Deliver();
        EXPECT_EQ(QGuiApplication::palette(), desktop) << "off leaves the desktop's palette";

        g_settings_set_boolean(a11y, "high-contrast", TRUE);
        Deliver();
        EXPECT_EQ(QGuiApplication::palette(), HighContrastPalette(false));
        g_settings_set_string(iface, "gtk-theme", "HighContrastInverse");
        Deliver();
        EXPECT_EQ(QGuiApplication::palette(), HighContrastPalette(true));

        g_settings_set_boolean(a11y, "high-contrast", FALSE);
        g_settings_reset(iface, "gtk-theme");
        Deliver();
        EXPECT_EQ(QGuiApplication::palette(), desktop);
        EXPECT_EQ(QApplication::style()->name(), style) << "the desktop's style comes back";

        // Started with high contrast on, it applies it at once.
        g_settings_set_boolean(a11y, "high-contrast", TRUE);
        Deliver();
    }
    {
        WindowColours colours;
        EXPECT_EQ(QGuiApplication::palette(), HighContrastPalette(false));
    }
    g_settings_reset(a11y, "high-contrast");
    g_object_unref(a11y);
    g_object_unref(iface);
}

TEST(WindowColoursTest, EveryKindOfControlIsOutlinedUnderHighContrast) {
    App();
    GSettings* a11y = g_settings_new("org.gnome.desktop.a11y.interface");
    GSettings* iface = g_settings_new("org.gnome.desktop.interface");
    g_settings_set_boolean(a11y, "high-contrast", TRUE);
    for (const char* theme : {"HighContrast", "HighContrastInverse"}) {
        SCOPED_TRACE(theme);
        g_settings_set_string(iface, "gtk-theme", theme);
        WindowColours colours;
        Deliver();
        // Without text, so that only frames, boxes, grooves and handles count.
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* combo = new QComboBox;
        combo->addItem(QString());
        auto* list = new QListWidget;
        list->setFixedHeight(40);
        const std::vector<std::pair<const char*, QWidget*>> controls = {
            {"line edit", new QLineEdit},
            {"button", new QPushButton},
            {"check box", new QCheckBox},
            {"radio button", new QRadioButton},
            {"combo box", combo},
            {"spin box", new QSpinBox},
            {"slider", new QSlider(Qt::Horizontal)},
            {"list", list},
            {"group box", new QGroupBox}};
        for (const auto& [name, w] : controls)
            layout->addWidget(w);
        window.resize(200, 400);
        window.show();
        for (const auto& [name, w] : controls) {
            // At least the length of one long side of the control's own box.
            const int least = std::max(10, std::min(w->width(), w->height()));
            // A control's boundary stands 3:1 off the window's colour.
            EXPECT_GE(zarntest::PixelsStandingOut(
                          *w, QGuiApplication::palette().color(QPalette::Window), 3.0),
                      least)
                << name;
        }
    }
    g_settings_reset(a11y, "high-contrast");
    g_settings_reset(iface, "gtk-theme");
    g_object_unref(a11y);
    g_object_unref(iface);
}

} // namespace
