#include "player/mediainfo/Id3.h"

#include "platform/regularfile.h"

#include <algorithm>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t TitleOffset = 3;
constexpr std::size_t ArtistOffset = 33;
constexpr std::size_t FieldLength = 30;

} // namespace

TID3TAG::TID3TAG(const std::string& fileName) {
    const int fd = OpenRegularFile(fileName);
    if (fd < 0)
        return;
    ReadFd(fd);
    ::close(fd);
}

TID3TAG TID3TAG::FromFd(int fd) {
    TID3TAG tag;
    tag.ReadFd(fd);
    return tag;
}

void TID3TAG::ReadFd(int fd) {
    std::array<std::uint8_t, TagSize> tail{};
    std::size_t got = 0;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(TagSize)) {
        const off_t from = st.st_size - static_cast<off_t>(TagSize);
        while (got < tail.size()) {
            const ssize_t n =
                ::pread(fd, tail.data() + got, tail.size() - got, from + static_cast<off_t>(got));
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
    }
    if (got == tail.size())
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
