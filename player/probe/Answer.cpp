#include "player/probe/Answer.h"

#include "player/mediainfo/TagText.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace probeanswer {

namespace {

constexpr char Magic[3] = {'Z', 'P', 'A'};
constexpr char LoudnessMagic[3] = {'Z', 'P', 'L'};
// Peaks the message carries: from silence's mark up to +30 dB over full scale.
constexpr std::int64_t LowestPeak = static_cast<std::int64_t>(TLoudnessFigure::NoPeak * 100);
constexpr std::int64_t HighestPeak = 3000;
// A year of sound at most, in milliseconds.
constexpr std::uint64_t LongestMeasured = 1000ull * 3600 * 24 * 366;

std::optional<std::size_t> Body(std::span<const std::uint8_t, HeaderSize> header,
                                const char (&magic)[3], std::uint8_t version, std::size_t max) {
    if (std::memcmp(header.data(), magic, 3) != 0 || header[3] != version)
        return std::nullopt;
    const std::size_t body =
        header[4] | header[5] << 8 | header[6] << 16 | static_cast<std::size_t>(header[7]) << 24;
    if (body > max - HeaderSize)
        return std::nullopt;
    return body;
}

void FillLength(std::vector<std::uint8_t>& out) {
    const std::size_t body = out.size() - HeaderSize;
    for (int i = 0; i < 4; ++i)
        out[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(body >> (8 * i));
}

std::string_view Cut(std::string_view text, std::size_t limit) {
    if (text.size() <= limit)
        return text;
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

class Writer {
public:
    void Put(std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    void Text(std::string_view text, std::size_t limit) {
        text = Cut(text, limit);
        Put(text.size(), 2);
        out.insert(out.end(), text.begin(), text.end());
    }
    std::vector<std::uint8_t> out;
};

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}
    bool Get(std::uint64_t& value, int bytes) {
        if (in_.size() - at_ < static_cast<std::size_t>(bytes))
            return false;
        value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<std::uint64_t>(in_[at_ + i]) << (8 * i);
        at_ += static_cast<std::size_t>(bytes);
        return true;
    }
    bool Signed(std::int64_t& value) {
        std::uint64_t raw = 0;
        if (!Get(raw, 8))
            return false;
        value = static_cast<std::int64_t>(raw);
        return true;
    }
    bool Text(std::string& text, std::size_t limit) {
        std::uint64_t size = 0;
        if (!Get(size, 2) || size > limit || in_.size() - at_ < size)
            return false;
        text.assign(reinterpret_cast<const char*>(in_.data() + at_), size);
        at_ += size;
        return IsValidUtf8(text);
    }
    bool AtEnd() const { return at_ == in_.size(); }

private:
    std::span<const std::uint8_t> in_;
    std::size_t at_ = 0;
};

} // namespace

std::vector<std::uint8_t> Encode(const TProbeAnswer& answer) {
    Writer w;
    w.out.insert(w.out.end(), Magic, Magic + 3);
    w.Put(Version, 1);
    w.Put(0, 4); // the body length, filled in below
    w.Put(answer.Texts ? 1 : 0, 1);
    w.Text(answer.Title, MaxText);
    w.Text(answer.Artist, MaxText);
    w.Text(answer.Album, MaxText);
    w.Put(static_cast<std::uint64_t>(answer.Duration), 8);
    const std::size_t count = std::min(answer.Chapters.size(), MaxChapters);
    w.Put(count, 4);
    for (std::size_t i = 0; i < count; ++i) {
        const TChapter& c = answer.Chapters[i];
        w.Put(static_cast<std::uint64_t>(c.Start), 8);
        w.Put(static_cast<std::uint64_t>(c.End), 8);
        w.Text(c.Title, MaxChapterTitle);
    }
    FillLength(w.out);
    return std::move(w.out);
}

std::optional<std::size_t> BodySize(std::span<const std::uint8_t, HeaderSize> header) {
    return Body(header, Magic, Version, MaxSize);
}

std::optional<TProbeAnswer> Parse(std::span<const std::uint8_t> message) {
    if (message.size() < HeaderSize)
        return std::nullopt;
    const auto body = BodySize(message.first<HeaderSize>());
    if (!body || *body != message.size() - HeaderSize)
        return std::nullopt;
    Reader r(message.subspan(HeaderSize));
    TProbeAnswer a;
    std::uint64_t texts = 0, count = 0;
    if (!r.Get(texts, 1) || texts > 1 || !r.Text(a.Title, MaxText) || !r.Text(a.Artist, MaxText) ||
        !r.Text(a.Album, MaxText) || !r.Signed(a.Duration) || !r.Get(count, 4) ||
        count > MaxChapters)
        return std::nullopt;
    a.Texts = texts == 1;
    if (a.Duration < -1)
        return std::nullopt;
    a.Chapters.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        TChapter c;
        if (!r.Signed(c.Start) || !r.Signed(c.End) || !r.Text(c.Title, MaxChapterTitle))
            return std::nullopt;
        // In order from the file's beginning; an end, when known, after the start.
        if (c.Start < 0 || (c.End != -1 && c.End <= c.Start) ||
            (!a.Chapters.empty() && c.Start < a.Chapters.back().Start))
            return std::nullopt;
        a.Chapters.push_back(std::move(c));
    }
    if (!r.AtEnd())
        return std::nullopt;
    return a;
}

std::vector<std::uint8_t> EncodeLoudness(const TProbeLoudness& answer) {
    Writer w;
    w.out.insert(w.out.end(), LoudnessMagic, LoudnessMagic + 3);
    w.Put(LoudnessVersion, 1);
    w.Put(0, 4);
    const auto hundredths = [](double value) {
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(std::lround(value * 100)));
    };
    if (const auto& f = answer.Figure) {
        w.Put(1, 1);
        w.Put(static_cast<std::uint8_t>(f->From), 1);
        w.Put(hundredths(f->Integrated), 4);
        w.Put(hundredths(std::clamp(f->Peak, TLoudnessFigure::NoPeak, HighestPeak / 100.0)), 4);
        w.Put(static_cast<std::uint64_t>(
                  std::llround(std::clamp(f->Seconds, 0.0, LongestMeasured / 1000.0) * 1000)),
              8);
        w.Put(f->Whole ? 1 : 0, 1);
        w.Text("", MaxText);
    } else {
        // No figure: every field of one zero.
        for (const int bytes : {1, 1, 4, 4, 8, 1})
            w.Put(0, bytes);
        w.Text(answer.Failure.empty() ? "no figure" : answer.Failure, MaxText);
    }
    FillLength(w.out);
    return std::move(w.out);
}

std::optional<std::size_t> LoudnessBodySize(std::span<const std::uint8_t, HeaderSize> header) {
    return Body(header, LoudnessMagic, LoudnessVersion, MaxLoudnessSize);
}

std::optional<TProbeLoudness> ParseLoudness(std::span<const std::uint8_t> message) {
    if (message.size() < HeaderSize)
        return std::nullopt;
    const auto body = LoudnessBodySize(message.first<HeaderSize>());
    if (!body || *body != message.size() - HeaderSize)
        return std::nullopt;
    Reader r(message.subspan(HeaderSize));
    std::uint64_t has = 0, from = 0, integrated = 0, peak = 0, millis = 0, whole = 0;
    TProbeLoudness a;
    if (!r.Get(has, 1) || !r.Get(from, 1) || !r.Get(integrated, 4) || !r.Get(peak, 4) ||
        !r.Get(millis, 8) || !r.Get(whole, 1) || !r.Text(a.Failure, MaxText) || !r.AtEnd())
        return std::nullopt;
    const auto i = static_cast<std::int32_t>(static_cast<std::uint32_t>(integrated));
    const auto p = static_cast<std::int32_t>(static_cast<std::uint32_t>(peak));
    if (has == 0) {
        if (from || integrated || peak || millis || whole || a.Failure.empty())
            return std::nullopt;
        return a;
    }
    if (has != 1 || from > 1 || whole > 1 || !a.Failure.empty() || millis > LongestMeasured ||
        p < LowestPeak || p > HighestPeak || !loudness::Plausible(i / 100.0))
        return std::nullopt;
    TLoudnessFigure f;
    f.From = static_cast<TLoudnessFigure::Source>(from);
    f.Integrated = i / 100.0;
    f.Peak = p / 100.0;
    f.Seconds = static_cast<double>(millis) / 1000;
    f.Whole = whole == 1;
    a.Figure = f;
    return a;
}

} // namespace probeanswer
