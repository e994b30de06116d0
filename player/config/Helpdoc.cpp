#include "player/config/Helpdoc.h"

#include "platform/paths.h"

#include <filesystem>

std::optional<std::string> HelpDocument(const std::string& programDir) {
    namespace fs = std::filesystem;
    for (const char* place : {"doc/index.htm", "../share/zarnplayer/doc/index.htm"}) {
        std::error_code ec;
        fs::path p = fs::path(programDir) / place;
        if (fs::is_regular_file(p, ec))
            return fs::weakly_canonical(p, ec).string();
    }
    return std::nullopt;
}

std::optional<std::string> HelpDocument() {
    return HelpDocument(paths::ProgramDir());
}
