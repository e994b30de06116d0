// What every core test starts from: a Qt Core application (for the core's
// timers and deferred writes), a fresh settings file and default list in a
// private folder, a play list model of its own, the core and the recording
// engine. No window and no Qt Widgets.
#pragma once

#include "player/core/Player.h"
#include "player/list/Filelist.h"
#include "tests/support/FakePlayer.h"
#include "tests/support/PlayerFolder.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>

class CoreTest : public zarntest::PlayerFolderTest {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "test_core";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
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

    FakePlayer player;
    std::unique_ptr<TFileList> list;
    std::unique_ptr<TPlayerCore> core;
};
