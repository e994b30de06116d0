// The loudness figures of files measured before, so a file is measured
// once: keyed by path, size and modification time (a file changed in place
// is measured again). Kept in a file of its own in the data folder, read at
// the start and written atomically. Any thread may use it.
#pragma once

#include "player/loudness/Figure.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TLoudnessKey {
    std::string Path;
    std::uint64_t Size = 0;
    std::int64_t Modified = 0; // nanoseconds since the epoch

    // The key of the file now; nothing when it is no regular file.
    static std::optional<TLoudnessKey> Of(const std::string& path);
    bool operator==(const TLoudnessKey&) const = default;
};

namespace loudnesscache {

struct Entry {
    TLoudnessKey Key;
    TLoudnessFigure Figure;
    bool operator==(const Entry&) const = default;
};

// The file's text: a first line naming the format, then one line per entry
// of tab-separated decimal integers (size, modification time, loudness and
// peak in hundredths, source) and the path with backslash, tab and line
// breaks escaped. Parse skips lines it cannot take and counts them; a text
// whose first line is not the format's gives no entries.
std::string Format(const std::vector<Entry>& entries);
std::vector<Entry> Parse(std::string_view text, std::size_t* skipped = nullptr);

inline constexpr std::size_t MaxEntries = 20000;
inline constexpr std::size_t MaxFileSize = 8u << 20;

} // namespace loudnesscache

class TLoudnessCache {
public:
    // file: where it is kept; empty keeps it in memory only.
    explicit TLoudnessCache(std::string file = {});

    // Reads the file; a missing one is an empty cache. Empty, or why it
    // could not be read.
    std::string Load();
    // Writes the file when anything changed since; empty, or why not.
    std::string Save();

    std::optional<TLoudnessFigure> Find(const TLoudnessKey& key) const;
    // Only whole-file figures are kept; the oldest go beyond MaxEntries.
    void Store(const TLoudnessKey& key, const TLoudnessFigure& figure);

private:
    const std::string file_;
    mutable std::mutex m_;
    std::vector<loudnesscache::Entry> entries_; // oldest first
    bool dirty_ = false;
};
