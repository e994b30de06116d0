// The per-file memory: where each file was left and at which rate, for the
// last 1,000 files played, kept in positions.txt beside the settings. The
// player core owns one and uses it from one thread. Another player may use
// the same file, so a save merges this one's changes into what the file
// holds then instead of writing back what was loaded.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct FileMemoryEntry {
    // In 100 ns units of the file's own time.
    std::int64_t position = 0;
    // A rate text of the rate list ("2.6").
    std::string rate;
    // Played to its end: it starts again from the beginning.
    bool ended = false;

    bool operator==(const FileMemoryEntry&) const = default;
};

class FileMemory {
public:
    static constexpr std::size_t kCapacity = 1000;

    explicit FileMemory(std::string fileName);

    // Replaces what is held by the file's content. A missing file is an empty
    // memory; lines that do not read are left out. Returns how many were left
    // out; throws profile::Error when the file exists but cannot be read
    // (not a regular file, implausibly large, refused by the system).
    std::size_t Load();
    // Under a lock beside the file (positions.txt.lock): reads the file,
    // applies the entries remembered and forgotten here since the last Load
    // or Save (after a Clear, only those), replaces the file atomically and
    // holds the result. Throws profile::Error naming the reason, also while
    // the last Load failed: a file that could not be read is never
    // overwritten with less than it holds.
    void Save();
    // Save without waiting longer than lockWait for another player's lock:
    // false, with nothing written, while another player holds it.
    bool TrySave(std::chrono::milliseconds lockWait);

    // Paths are held absolute and normalised (see MemoryKey), so a file named
    // relative to another folder, or spelled another way, is the same file.
    // The entry of path, which becomes the newest; nothing when unknown.
    std::optional<FileMemoryEntry> Find(const std::string& path);
    // Stores path's entry as the newest, dropping the oldest beyond kCapacity.
    // An empty path, a negative position or a rate that is no decimal number
    // is not stored (false).
    bool Remember(const std::string& path, const FileMemoryEntry& entry);
    void Forget(const std::string& path);
    // Forgets every entry, also those the file holds at the next Save.
    void Clear();

    std::size_t Size() const { return order_.size(); }
    // Oldest first.
    std::vector<std::string> Paths() const;
    const std::string& FileName() const { return fileName_; }

    // The file's text for the entries held, oldest first, and back. Parse
    // keeps the newest kCapacity and counts the lines it left out.
    std::string Format() const;
    std::size_t Parse(std::string_view text);

private:
    std::string ReadFile() const;
    bool Store(const std::string& path, const FileMemoryEntry& entry);
    void Drop(const std::string& path);
    void Reset();

    using Item = std::pair<std::string, FileMemoryEntry>;

    std::string fileName_;
    // What changed here since the file was read: true for a path remembered,
    // false for one forgotten; cleared_ after a Clear.
    std::unordered_map<std::string, bool> changed_;
    bool cleared_ = false;
    // Why the last Load failed; empty when it did not.
    std::string unreadable_;
    std::list<Item> order_; // oldest first
    std::unordered_map<std::string_view, std::list<Item>::iterator> index_;
};

// path made absolute against the working folder, with "." and ".." taken
// out and slashes single (links are not followed); empty stays empty.
std::string MemoryKey(const std::string& path);

// Where a remembered file starts (100 ns units): 3 s before where it was
// left, not below 0; from the beginning when it was played to its end or the
// stored position is not before duration (duration <= 0: not known).
std::int64_t ResumePosition(const FileMemoryEntry& entry, std::int64_t duration);
