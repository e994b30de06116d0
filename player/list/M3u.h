// Reading play lists other programs write: M3U and M3U8, UTF-8 text with one
// file per line. The player saves its own lists in its list format only.
// Part of the play list model, player/list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct M3uEntries {
    // The files in list order, relative names made absolute.
    std::vector<std::string> Files;
    // Addresses of anything but a local file, which the player cannot list.
    std::vector<std::string> Skipped;
};

// True for a name ending in .m3u or .m3u8, in any letter case.
bool IsM3uName(std::string_view path);

// A byte-order mark is skipped; lines end at CR, LF or CR LF; blank lines and
// lines starting with '#' (comments and extended information) are left out;
// spaces and tabs around a name are dropped. A relative name is taken from
// listFolder (as given: empty leaves it relative). file:// addresses of this
// machine become their percent-decoded paths; other addresses are skipped.
M3uEntries ParseM3uText(std::string_view text, std::string_view listFolder);
