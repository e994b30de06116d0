// The desktop's high-contrast setting read from GSettings. The test program
// runs on GLib's in-memory settings (GSETTINGS_BACKEND=memory), so the keys
// are set here as the desktop would set them.
#include "platform/contrast.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <unistd.h>
#include <vector>

using contrast::DesktopContrast;
using contrast::Scheme;

namespace {

constexpr const char* A11y = "org.gnome.desktop.a11y.interface";
constexpr const char* Interface = "org.gnome.desktop.interface";

// Lets the main loop deliver what GSettings has queued.
void Dispatch() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

class DesktopContrastTest : public zarntest::FolderTest {
protected:
    void SetUp() override {
        ASSERT_STREQ(std::getenv("GSETTINGS_BACKEND"), "memory")
            << "the test must never write the desktop's real settings";
        // A misread key only warns; the test counts those as failures.
        for (const char* domain : LogDomains)
            handlers.push_back(g_log_set_handler(
                domain, GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING),
                [](const gchar* domain, GLogLevelFlags, const gchar* text, gpointer) {
                    ADD_FAILURE() << domain << ": " << text;
                },
                nullptr));
        a11y = g_settings_new(A11y);
        iface = g_settings_new(Interface);
        g_settings_reset(a11y, "high-contrast");
        for (const char* key : {"gtk-theme", "color-scheme"})
            g_settings_reset(iface, key);
        Dispatch();
    }
    void TearDown() override {
        g_object_unref(a11y);
        g_object_unref(iface);
        for (std::size_t i = 0; i < handlers.size(); ++i)
            g_log_remove_handler(LogDomains[i], handlers[i]);
    }

    void SetSwitch(bool on) { g_settings_set_boolean(a11y, "high-contrast", on); }
    void SetTheme(const char* theme) { g_settings_set_string(iface, "gtk-theme", theme); }
    void SetStyle(const char* style) { g_settings_set_string(iface, "color-scheme", style); }

    // A schema folder compiled from the given schema files.
    std::string Compiled(const std::vector<std::string>& schemas) {
        for (std::size_t i = 0; i < schemas.size(); ++i)
            std::ofstream(dir + "/s" + std::to_string(i) + ".gschema.xml") << schemas[i];
        const std::string command = "glib-compile-schemas " + dir;
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return dir;
    }

    GSettings* a11y = nullptr;
    GSettings* iface = nullptr;
    static constexpr const char* LogDomains[] = {"GLib", "GLib-GIO", "GLib-GObject"};
    std::vector<guint> handlers;
};

TEST_F(DesktopContrastTest, SwitchThemesAndDarkStyleChooseTheScheme) {
    EXPECT_EQ(DesktopContrast().Current(), Scheme::Off);

    SetSwitch(true);
    EXPECT_EQ(DesktopContrast().Current(), Scheme::Light);
    SetStyle("prefer-dark");
    EXPECT_EQ(DesktopContrast().Current(), Scheme::Dark);
    SetSwitch(false);
    EXPECT_EQ(DesktopContrast().Current(), Scheme::Off) << "a dark style alone is no high contrast";

    SetStyle("default");
    SetTheme("HighContrast");
    EXPECT_EQ(DesktopContrast().Current(), Scheme::Light);
    SetTheme("HighContrastInverse");
    EXPECT_EQ(DesktopContrast().Current(), Scheme::Dark);
    SetTheme("Adwaita-dark");
    EXPECT_EQ(DesktopContrast().Current(), Scheme::Off);
}

TEST_F(DesktopContrastTest, ALiveChangeIsReportedOncePerSchemeChange) {
    std::vector<Scheme> seen;
    DesktopContrast watch([&seen](Scheme s) { seen.push_back(s); });
    EXPECT_EQ(watch.Current(), Scheme::Off);

    SetSwitch(true);
    Dispatch();
    EXPECT_EQ(watch.Current(), Scheme::Light);
    // A key that changes nothing of the scheme is not reported.
    g_settings_set_string(iface, "font-name", "Sans 14");
    Dispatch();
    g_settings_reset(iface, "font-name");
    SetTheme("HighContrastInverse");
    Dispatch();
    SetSwitch(false);
    SetTheme("Adwaita");
    Dispatch();
    EXPECT_EQ(seen, (std::vector<Scheme>{Scheme::Light, Scheme::Dark, Scheme::Off}));
    EXPECT_EQ(watch.Current(), Scheme::Off);
}

TEST_F(DesktopContrastTest, MissingSchemasKeysOrOtherTypesMeanOff) {
    // Nothing installed at all.
    EXPECT_EQ(DesktopContrast({}, dir).Current(), Scheme::Off);

    // Schemas of the same names without the keys, or with keys of another
    // type: GSettings would abort on either if they were read blindly.
    const std::string folder = Compiled({
        "<schemalist><schema id='org.gnome.desktop.a11y.interface' path='/t/a11y/'>"
        "<key name='other' type='b'><default>true</default></key>"
        "</schema></schemalist>",
        "<schemalist><schema id='org.gnome.desktop.interface' path='/t/iface/'>"
        "<key name='gtk-theme' type='i'><default>1</default></key>"
        "<key name='color-scheme' type='b'><default>true</default></key>"
        "</schema></schemalist>",
    });
    std::vector<Scheme> seen;
    DesktopContrast watch([&seen](Scheme s) { seen.push_back(s); }, folder);
    EXPECT_EQ(watch.Current(), Scheme::Off);
    SetSwitch(true);
    Dispatch();
    EXPECT_EQ(watch.Current(), Scheme::Off);
    EXPECT_TRUE(seen.empty());
}

// Run by the test below in a child whose environment hides every schema;
// the default schema source is fixed once per process, so it needs its own.
TEST(DesktopContrastChild, DISABLED_NoInstalledSchemas) {
    EXPECT_EQ(DesktopContrast().Current(), Scheme::Off);
}

TEST_F(DesktopContrastTest, ADesktopWithoutTheSchemasHasHighContrastOff) {
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    zarntest::Program child(
        {self, "--gtest_also_run_disabled_tests",
         "--gtest_filter=DesktopContrastChild.DISABLED_NoInstalledSchemas"},
        {{"GSETTINGS_SCHEMA_DIR", dir}, {"XDG_DATA_DIRS", dir}, {"XDG_DATA_HOME", dir}},
        dir + "/out", dir + "/err");
    EXPECT_EQ(child.Wait(), 0) << child.Out() << child.Err();
    EXPECT_NE(child.Out().find("[  PASSED  ] 1 test"), std::string::npos) << child.Out();
}

// Run by the test below with a session bus that never answers: a watch is
// made and gone at once, and another one's connection gives up within its
// limit, which is said.
TEST(DesktopContrastChild, DISABLED_HungBus) {
    const auto start = std::chrono::steady_clock::now();
    {
        DesktopContrast watch;
        EXPECT_EQ(watch.Current(), Scheme::Off);
        const auto end = start + std::chrono::seconds(7);
        while (std::chrono::steady_clock::now() < end)
            g_main_context_iteration(nullptr, FALSE);
    }
    { DesktopContrast gone; }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < end)
        g_main_context_iteration(nullptr, FALSE);
}

TEST_F(DesktopContrastTest, ASessionBusThatNeverAnswersHoldsNothingUp) {
    zarntest::SilentBus bus(dir + "/bus");
    ASSERT_TRUE(bus.Listening());
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    zarntest::Program child({self, "--gtest_also_run_disabled_tests",
                             "--gtest_filter=DesktopContrastChild.DISABLED_HungBus"},
                            {{"DBUS_SESSION_BUS_ADDRESS", bus.Address()}}, dir + "/out",
                            dir + "/err");
    EXPECT_EQ(child.Wait(20), 0) << child.Out() << child.Err();
    EXPECT_NE(child.Out().find("[  PASSED  ] 1 test"), std::string::npos) << child.Out();
    EXPECT_NE(child.Err().find("did not answer within"), std::string::npos) << child.Err();
}

} // namespace
