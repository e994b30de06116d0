#include "player/probe/Answer.h"

#include "player/mediainfo/TagText.h"

#include <cstring>
#include <string_view>

namespace probeanswer {

namespace {

constexpr char Magic[3] = {'Z', 'P', 'A'};

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
    const std::size_t body = w.out.size() - HeaderSize;
    for (int i = 0; i < 4; ++i)
        w.out[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(body >> (8 * i));
    return std::move(w.out);
}

std::optional<std::size_t> BodySize(std::span<const std::uint8_t, HeaderSize> header) {
    if (std::memcmp(header.data(), Magic, 3) != 0 || header[3] != Version)
        return std::nullopt;
    const std::size_t body =
        header[4] | header[5] << 8 | header[6] << 16 | static_cast<std::size_t>(header[7]) << 24;
    if (body > MaxSize - HeaderSize)
        return std::nullopt;
    return body;
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

} // namespace probeanswer
