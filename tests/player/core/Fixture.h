// What every core test starts from: a Qt Core application (for the core's
// timers and deferred writes), a fresh settings file and default list in a
// private folder, a play list model of its own, the core and the recording
// engine. No window and no Qt Widgets.
#pragma once

#include "player/config/Option.h"
#include "player/config/Tool.h"
#include "player/core/Player.h"
#include "player/playlist/Filelist.h"
#include "tests/support/FakePlayer.h"
#include "tests/support/Files.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "test_core";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
        dir = zarntest::MakeTempDir("core");
        SettingsStore().SetFileName(dir + "/zarnplayer.ini");
        Options() = TOptions{};
        ClosingFlag = false;
    }
    void TearDown() override {
        core.reset();
        list.reset();
        std::filesystem::remove_all(dir);
    }

    // An (empty) media file in the test folder.
    std::string Media(const std::string& name) {
        const std::string path = dir + "/" + name;
        std::ofstream(path) << "x";
        return path;
    }
    // The core reads its settings now, gets the engine and starts with files.
    TPlayerCore& Started(const std::vector<std::string>& files = {}) {
        list = std::make_unique<TFileList>(dir + "/default.lst");
        core = std::make_unique<TPlayerCore>(*list);
        core->SetPlayer(&player);
        core->Start(files);
        player.calls.clear();
        return *core;
    }

    std::string dir;
    FakePlayer player;
    std::unique_ptr<TFileList> list;
    std::unique_ptr<TPlayerCore> core;
};
