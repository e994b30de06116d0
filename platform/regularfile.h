// Opening and reading the files the player is given or keeps (media, lists,
// settings, bookmarks): only regular files. A FIFO or a device node under
// such a name would block the open or the reads (and with them the start or
// the program's exit), so the open never waits and anything else is refused.
#pragma once

#include <cstddef>
#include <string>

// A read-only descriptor (close it) of the regular file at path, or -1 with
// errno set (EINVAL for something other than a regular file).
int OpenRegularFile(const std::string& path);

struct FileContent {
    enum class Status { Read, Missing, Unreadable };
    Status status = Status::Missing;
    // The file's bytes when read.
    std::string text;
    // Why it could not be read, in words, when Unreadable.
    std::string error;
};

// The whole regular file at path, at most limit bytes: a missing file is
// Missing; one that is not a regular file, larger than limit or refused by
// the system is Unreadable, with the reason.
FileContent ReadRegularFile(const std::string& path, std::size_t limit);
