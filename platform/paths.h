// Where the program's own files live: the folder of the executable, the
// private folder of its engine and renderer, and the folder for the files
// the user keeps (settings, lists, bookmarks, the per-file memory).
#pragma once

#include <string>

namespace paths {

// The folder of the running executable, with a trailing '/'.
std::string ProgramDir();

// What the choice of the user's folder reads besides the file system.
struct Places {
    std::string programDir;    // the executable's folder, trailing '/'
    std::string home;          // $ZARNPLAYER_HOME
    std::string xdgConfigHome; // $XDG_CONFIG_HOME
    std::string userHome;      // $HOME
    // Relative to programDir: the engine library in the private folder of an
    // installed copy. Its presence is what makes a copy an installed one.
    std::string installedEngine;
};

// Places of this process: its executable and its environment.
Places CurrentPlaces();

// True when places.programDir is the bin folder of an installed copy (the
// package under /usr, ./zarn install under a prefix).
bool IsInstalled(const Places& places);

// The folder for zarnplayer.ini, default.lst, bookmark.txt and positions.txt,
// with a trailing '/', created on demand:
// - $ZARNPLAYER_HOME when set;
// - an installed copy: $XDG_CONFIG_HOME/zarnplayer/ (~/.config/zarnplayer/),
//   whatever the bin folder's write bits say; files an earlier copy left in
//   the bin folder are moved there once (each move is said on stderr);
// - a portable copy (a build tree, a folder the user copied the program
//   into): the program's folder when writable, else the XDG folder.
std::string DataDirFor(const Places& places);

// DataDirFor(CurrentPlaces()).
std::string DataDir();

// The folder of the engine library and of gstreamer-1.0/ with the renderer
// plugin, trailing '/': the private folder of an installed copy, lib/ beside
// bin/ in a build tree.
std::string PrivateDir();

// dir with links, "." and ".." resolved and slashes single, with a trailing
// '/': one name for one folder however it was spelled. dir as it is (with
// the slash) when it cannot be resolved.
std::string CanonicalDir(const std::string& dir);

// Creates dir and its parents (mode 0700 for new ones); false on failure.
bool MakeDirs(const std::string& dir);

} // namespace paths
