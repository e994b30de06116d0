// One listed file. Entries are shared: the model holds each one, and an
// analysis pass holds the entry it works on, so an entry removed meanwhile
// stays alive until the pass lets go. Every field except FileName and Busy
// belongs to the GUI thread.
// Part of the play list model, player/list.
#pragma once

#include "player/mediainfo/Gsttags.h"
#include "player/mediainfo/Id3.h"
#include "player/mediainfo/Riffinfo.h"
#include "player/probe/Answer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TFileList;
struct ListRow;

// Everything after the last path delimiter.
std::string_view FileNamePart(std::string_view path);

class TFile {
public:
    // Made only by the model's add and load operations.
    explicit TFile(std::string fileName);
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;

    // What one analysis reads from the file: the two tag readers, and
    // today's tags only when those two give no title; or what the probe
    // read the same way in its confinement.
    struct Tags {
        std::unique_ptr<TID3TAG> Id3;
        std::unique_ptr<TRIFFINFO> RiffInfo;
        std::unique_ptr<TGSTTAGS> GstTags;
        std::optional<TProbeAnswer> Probed;
    };
    // Reads the file's tags; any thread, touches no field.
    static Tags ReadTags(const std::string& fileName);
    // Takes the tags into the entry and rebuilds Title and the row caption.
    void ApplyTags(Tags tags);
    // Both steps at once, on the GUI thread.
    void Analyze() { ApplyTags(ReadTags(FileName)); }

    const std::string FileName; // as added: played, saved and compared
    std::string Title;          // the row's caption
    std::string TagTitle;       // bytes as found in the tags
    std::string TagArtist;
    std::string TimeText;
    // Set while an analysis pass reads this entry; removals skip or wait.
    std::atomic<bool> Busy{false};
    bool Played = false; // Random has chosen it in the current round
    std::int32_t SortKey = 0;
    ListRow* Row = nullptr;     // cleared when the row goes
    TFileList* Owner = nullptr; // cleared when the entry leaves the list
    std::unique_ptr<TID3TAG> Id3;
    std::unique_ptr<TRIFFINFO> RiffInfo;
    // The chapters the probe read; none when it has not read the file.
    std::optional<std::vector<TChapter>> Chapters;
    // The analysis pass that last took this entry; under the list's lock.
    std::uint64_t PassStamp = 0;
};
