// Where every test of the player core and its windows starts: a private
// folder with a fresh settings file, the default options, no close pending,
// and empty stand-ins for media files.
#pragma once

#include "player/config/Option.h"
#include "player/config/Tool.h"
#include "tests/support/Files.h"

#include <fstream>
#include <string>

namespace zarntest {

class PlayerFolderTest : public FolderTest {
protected:
    PlayerFolderTest() {
        SettingsStore().SetFileName(dir + "/zarnplayer.ini");
        Options() = TOptions{};
        ClosingFlag = false;
    }

    // An (empty) media file in the test folder.
    std::string Media(const std::string& name) {
        const std::string path = dir + "/" + name;
        std::ofstream(path) << "x";
        return path;
    }
};

} // namespace zarntest
