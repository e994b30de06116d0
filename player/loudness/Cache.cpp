#include "player/loudness/Cache.h"

#include "platform/linetext.h"
#include "platform/profile.h"
#include "platform/regularfile.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include <sys/stat.h>

namespace loudnesscache {

namespace {

constexpr std::string_view kHeader = "zarnplayer loudness 1";

template <typename T> bool Number(std::string_view text, T& out) {
    if (text.empty() || (text.size() > 1 && text[0] == '0') || text[0] == '+')
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

std::optional<Entry> Line(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t at = 0;;) {
        const std::size_t tab = line.find('\t', at);
        fields.push_back(line.substr(at, tab == std::string_view::npos ? tab : tab - at));
        if (tab == std::string_view::npos)
            break;
        at = tab + 1;
    }
    Entry e;
    std::int32_t integrated = 0, peak = 0, source = 0;
    if (fields.size() != 6 || !Number(fields[0], e.Key.Size) ||
        !Number(fields[1], e.Key.Modified) || !Number(fields[2], integrated) ||
        !Number(fields[3], peak) || !Number(fields[4], source) || source < 0 || source > 1 ||
        !loudness::Plausible(integrated / 100.0) || peak < TLoudnessFigure::NoPeak * 100 ||
        peak > 3000)
        return std::nullopt;
    auto path = linetext::Unescape(fields[5]);
    if (!path || path->empty() || (*path)[0] != '/')
        return std::nullopt;
    e.Key.Path = std::move(*path);
    e.Figure.From = static_cast<TLoudnessFigure::Source>(source);
    e.Figure.Integrated = integrated / 100.0;
    e.Figure.Peak = peak / 100.0;
    e.Figure.Whole = true;
    return e;
}

} // namespace

std::string Format(const std::vector<Entry>& entries) {
    std::string out(kHeader);
    out += '\n';
    for (const Entry& e : entries) {
        const auto hundredths = [](double v) { return std::to_string(std::lround(v * 100)); };
        out += std::to_string(e.Key.Size) + '\t' + std::to_string(e.Key.Modified) + '\t' +
               hundredths(e.Figure.Integrated) + '\t' +
               hundredths(std::clamp(e.Figure.Peak, TLoudnessFigure::NoPeak, 30.0)) + '\t' +
               std::to_string(static_cast<int>(e.Figure.From)) + '\t';
        linetext::Escape(out, e.Key.Path);
        out += '\n';
    }
    return out;
}

std::vector<Entry> Parse(std::string_view text, std::size_t* skipped) {
    std::vector<Entry> entries;
    std::size_t bad = 0;
    const std::size_t first = text.find('\n');
    if (first == std::string_view::npos || text.substr(0, first) != kHeader) {
        if (skipped)
            *skipped = text.empty() ? 0 : 1;
        return entries;
    }
    for (std::size_t at = first + 1; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::string_view line =
            text.substr(at, end == std::string_view::npos ? end : end - at);
        at = end == std::string_view::npos ? text.size() : end + 1;
        if (auto e = Line(line))
            entries.push_back(std::move(*e));
        else
            ++bad;
    }
    if (entries.size() > MaxEntries)
        entries.erase(entries.begin(), entries.end() - MaxEntries);
    if (skipped)
        *skipped = bad;
    return entries;
}

} // namespace loudnesscache

std::optional<TLoudnessKey> TLoudnessKey::Of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    TLoudnessKey key;
    key.Path = path;
    key.Size = static_cast<std::uint64_t>(st.st_size);
    key.Modified =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return key;
}

TLoudnessCache::TLoudnessCache(std::string file) : file_(std::move(file)) {}

std::string TLoudnessCache::Load() {
    if (file_.empty())
        return {};
    const FileContent content = ReadRegularFile(file_, loudnesscache::MaxFileSize);
    if (content.status == FileContent::Status::Unreadable)
        return content.error;
    std::vector<loudnesscache::Entry> entries;
    if (content.status == FileContent::Status::Read)
        entries = loudnesscache::Parse(content.text);
    std::lock_guard<std::mutex> lock(m_);
    entries_ = std::move(entries);
    dirty_ = false;
    return {};
}

std::string TLoudnessCache::Save() {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(m_);
        if (file_.empty() || !dirty_)
            return {};
        text = loudnesscache::Format(entries_);
        dirty_ = false;
    }
    try {
        profile::ReplaceFileAtomically(file_, text);
    } catch (const profile::Error& e) {
        std::lock_guard<std::mutex> lock(m_);
        dirty_ = true;
        return e.what();
    }
    return {};
}

std::optional<TLoudnessFigure> TLoudnessCache::Find(const TLoudnessKey& key) const {
    std::lock_guard<std::mutex> lock(m_);
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (it->Key == key)
            return it->Figure;
    return std::nullopt;
}

void TLoudnessCache::Store(const TLoudnessKey& key, const TLoudnessFigure& figure) {
    if (!figure.Whole || !loudness::Plausible(figure.Integrated))
        return;
    std::lock_guard<std::mutex> lock(m_);
    std::erase_if(entries_, [&](const loudnesscache::Entry& e) { return e.Key.Path == key.Path; });
    TLoudnessFigure kept = figure;
    kept.Seconds = 0;
    // Rounded as the file keeps it, so a figure reads back as stored.
    kept.Integrated = std::lround(kept.Integrated * 100) / 100.0;
    kept.Peak = std::lround(std::clamp(kept.Peak, TLoudnessFigure::NoPeak, 30.0) * 100) / 100.0;
    entries_.push_back({key, kept});
    if (entries_.size() > loudnesscache::MaxEntries)
        entries_.erase(entries_.begin());
    dirty_ = true;
}
