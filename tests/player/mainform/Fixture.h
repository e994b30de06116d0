// What every window test starts from: a Qt application on the offscreen
// platform, a fresh settings file and default list in a private folder, a
// play list model of its own and the recording engine.
#pragma once

#include "PlayListStandIn.h"
#include "player/config/Option.h"
#include "player/config/Tool.h"
#include "player/list/Filelist.h"
#include "player/mainform/Mainform.h"
#include "tests/support/FakePlayer.h"
#include "tests/support/PlayerFolder.h"
#include "tests/support/Windows.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

class WindowTest : public zarntest::PlayerFolderTest {
protected:
    void SetUp() override { zarntest::App(); }
    void TearDown() override {
        if (list)
            list->SetHooks({});
        main.reset();
        core.reset();
        list.reset();
        playList.reset();
    }

    void Setting(const char* section, const char* key, int value) {
        SettingsStore().WriteInteger(section, key, value);
    }
    void Setting(const char* section, const char* key, const char* value) {
        SettingsStore().WriteString(section, key, value);
    }
    int Stored(const char* section, const char* key) {
        return SettingsStore().ReadInteger(section, key, -12345);
    }

    // Creates the window (it reads the settings now) and gives it the engine.
    TMain& Create() {
        playList = std::make_unique<TPlayListStandIn>();
        list = std::make_unique<TFileList>(dir + "/default.lst");
        list->SetView(playList.get());
        core = std::make_unique<TPlayerCore>(*list);
        main = std::make_unique<TMain>(*core, *list, playList.get());
        main->SetListFocusQuery([this] { return playList->ListHasFocus(); });
        TFileList::Hooks hooks;
        hooks.UpdatePrevNext = [this] { core->ListChanged(); };
        list->SetHooks(std::move(hooks));
        player.SetWindows(main.get(), main->VideoView());
        core->SetPlayer(&player);
        main->show();
        return *main;
    }
    // Creation and the start step, with the calls of the start forgotten.
    TMain& Started(const std::vector<std::string>& files = {}) {
        Create().StartPlayer(files);
        player.calls.clear();
        return *main;
    }
    // Closes and destroys the window as the program does at its end.
    void Quit() {
        main->close();
        core->SetPlayer(nullptr);
        main->FormDestroy();
        list->SetView(nullptr);
        list->SetHooks({});
        main.reset();
        core.reset();
        list.reset();
        playList.reset();
    }

    FakePlayer player;
    std::unique_ptr<TPlayListStandIn> playList;
    std::unique_ptr<TFileList> list;
    std::unique_ptr<TPlayerCore> core;
    std::unique_ptr<TMain> main;
};
