// Opening a file the tag readers may read: only a regular file. A FIFO or a
// device node named like a media file would block the open or the reads (and
// with them the analysis and the program's exit), so the open never waits
// and anything else is refused.
#pragma once

#include <string>

// A read-only descriptor (close it) of the regular file at path, or -1.
int OpenRegularFile(const std::string& path);
