// Where the program's own files live: the folder of the executable, and the
// folder for the files the user keeps (settings, lists, bookmarks).
#pragma once

#include <string>

namespace paths {

// The folder of the running executable, with a trailing '/'.
std::string ProgramDir();

// The folder for zarnplayer.ini, default.lst and bookmark.txt, with a trailing
// '/': $ZARNPLAYER_HOME when set; else the program's folder when writable;
// else $XDG_CONFIG_HOME/zarnplayer/ (~/.config/zarnplayer/), created on demand.
std::string DataDir();

// dir with links, "." and ".." resolved and slashes single, with a trailing
// '/': one name for one folder however it was spelled. dir as it is (with
// the slash) when it cannot be resolved.
std::string CanonicalDir(const std::string& dir);

// Creates dir and its parents (mode 0700 for new ones); false on failure.
bool MakeDirs(const std::string& dir);

} // namespace paths
