// The player's parsers of the probe's answers over arbitrary bytes: whatever
// they accept keeps the limits, holds valid UTF-8, chapters in order and a
// plausible loudness, and is exactly what the encoder writes for it (one
// form per answer, so no bytes the parser skipped over). Seeds: answers
// with and without texts and chapters, titles at their limits, measurements
// with a figure and with a failure.
#include "player/mediainfo/TagText.h"
#include "player/probe/Answer.h"

#include "Seeds.h"

#include <cstdlib>

namespace {

void CheckLoudness(const std::uint8_t* data, std::size_t size) {
    const std::optional<TProbeLoudness> l = probeanswer::ParseLoudness({data, size});
    if (!l)
        return;
    if (size > probeanswer::MaxLoudnessSize || l->Failure.size() > probeanswer::MaxText ||
        !IsValidUtf8(l->Failure) || l->Figure.has_value() == !l->Failure.empty())
        std::abort();
    if (l->Figure && (!loudness::Plausible(l->Figure->Integrated) ||
                      l->Figure->Peak < TLoudnessFigure::NoPeak || l->Figure->Seconds < 0))
        std::abort();
    const std::vector<std::uint8_t> again = probeanswer::EncodeLoudness(*l);
    if (again.size() != size || !std::equal(again.begin(), again.end(), data))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckLoudness(data, size);
    const std::optional<TProbeAnswer> a = probeanswer::Parse({data, size});
    if (!a)
        return 0;
    if (size > probeanswer::MaxSize || a->Chapters.size() > MaxChapters || a->Duration < -1)
        std::abort();
    for (const std::string* text : {&a->Title, &a->Artist, &a->Album})
        if (text->size() > probeanswer::MaxText || !IsValidUtf8(*text))
            std::abort();
    for (std::size_t i = 0; i < a->Chapters.size(); ++i) {
        const TChapter& c = a->Chapters[i];
        if (c.Start < 0 || (c.End != -1 && c.End <= c.Start) || !IsValidUtf8(c.Title) ||
            c.Title.size() > MaxChapterTitle || (i > 0 && a->Chapters[i - 1].Start > c.Start))
            std::abort();
    }
    const std::vector<std::uint8_t> again = probeanswer::Encode(*a);
    if (again.size() != size || !std::equal(again.begin(), again.end(), data))
        std::abort();
    return 0;
}

const fuzzseeds::Seeds& TargetSeeds() {
    static const fuzzseeds::Seeds all = [] {
        TProbeAnswer none;
        TProbeAnswer tagged{true, "Caf\xc3\xa9", "Artist", "Album", 1234567890, {}};
        TProbeAnswer book = tagged;
        book.Chapters = {{0, 10'000'000, "One"},
                         {10'000'000, -1, std::string(MaxChapterTitle, 'x')},
                         {10'000'000, 30'000'000, "\xe2\x80\x93"}};
        TLoudnessFigure measured{TLoudnessFigure::Source::Measured, -23.45, -1.5, 3600.25, true};
        TLoudnessFigure tags{TLoudnessFigure::Source::Tags, -10.5, TLoudnessFigure::NoPeak, 0,
                             true};
        return fuzzseeds::Seeds{probeanswer::Encode(none),
                                probeanswer::Encode(tagged),
                                probeanswer::Encode(book),
                                probeanswer::EncodeLoudness({measured, ""}),
                                probeanswer::EncodeLoudness({tags, ""}),
                                probeanswer::EncodeLoudness({std::nullopt, "the file is silent"})};
    }();
    return all;
}
