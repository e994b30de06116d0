#include "player/mediainfo/Id3.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t TitleOffset = 3;
constexpr std::size_t ArtistOffset = 33;
constexpr std::size_t FieldLength = 30;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

TID3TAG::TID3TAG(const std::string& fileName) {
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(fileName.c_str(), "rb"));
    if (!f)
        return;
    std::array<std::uint8_t, TagSize> tail{};
    if (std::fseek(f.get(), -static_cast<long>(TagSize), SEEK_END) != 0)
        return;
    if (std::fread(tail.data(), 1, tail.size(), f.get()) != tail.size())
        return;
    Take(tail);
}

TID3TAG TID3TAG::FromBytes(std::span<const std::uint8_t> content) {
    TID3TAG tag;
    if (content.size() >= TagSize)
        tag.Take(content.last(TagSize));
    return tag;
}

void TID3TAG::Take(std::span<const std::uint8_t> tail) {
    if (tail[0] != 'T' || tail[1] != 'A' || tail[2] != 'G')
        return;
    std::copy(tail.begin(), tail.end(), Raw.begin());
    Found = true;
}

// A field without a byte 0 runs on into the next one; only then is the text
// cut to the field and stripped of surrounding blanks and control bytes.
std::string TID3TAG::Field(std::size_t offset) const {
    const std::uint8_t* begin = Raw.data() + offset;
    const std::uint8_t* end = std::find(begin, Raw.data() + Raw.size(), 0);
    if (static_cast<std::size_t>(end - begin) <= FieldLength)
        return std::string(begin, end);
    end = begin + FieldLength;
    while (begin < end && *begin <= 32)
        ++begin;
    while (end > begin && end[-1] <= 32)
        --end;
    return std::string(begin, end);
}

std::string TID3TAG::GetTitle() const {
    return Field(TitleOffset);
}

std::string TID3TAG::GetArtist() const {
    return Field(ArtistOffset);
}
