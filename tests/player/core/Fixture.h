// What every core test starts from: a fresh settings file and default list
// in a private folder, a play list model of its own, the core and the
// recording engine. No window and no Qt Widgets.
#pragma once

#include "player/config/Option.h"
#include "player/config/Tool.h"
#include "player/core/Player.h"
#include "player/playlist/Filelist.h"
#include "tests/support/FakePlayer.h"
#include "tests/support/PlayerFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

class CoreTest : public zarntest::PlayerFolderTest {
protected:
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
