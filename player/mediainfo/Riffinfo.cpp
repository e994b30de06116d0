#include "player/mediainfo/Riffinfo.h"

#include "platform/regularfile.h"

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileSource final : public TRIFFINFO::Source {
public:
    explicit FileSource(const std::string& fileName)
        : FileSource(OpenRegularFile(fileName), true) {}
    // A descriptor it closes only when owned.
    FileSource(int fd, bool owned) : fd_(fd), owned_(owned) {
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0)
            size_ = static_cast<std::uint64_t>(st.st_size);
    }
    ~FileSource() {
        if (owned_ && fd_ >= 0)
            ::close(fd_);
    }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    std::uint64_t Size() const override { return size_; }
    std::size_t Read(std::uint64_t offset, void* buffer, std::size_t n) const override {
        std::size_t got = 0;
        while (got < n) {
            ssize_t r = ::pread(fd_, static_cast<char*>(buffer) + got, n - got,
                                static_cast<off_t>(offset + got));
            if (r <= 0)
                break;
            got += static_cast<std::size_t>(r);
        }
        return got;
    }

private:
    int fd_;
    bool owned_;
    std::uint64_t size_ = 0;
};

class MemorySource final : public TRIFFINFO::Source {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    std::size_t Read(std::uint64_t offset, void* buffer, std::size_t n) const override {
        if (offset >= bytes_.size())
            return 0;
        std::size_t take = std::min<std::uint64_t>(n, bytes_.size() - offset);
        std::memcpy(buffer, bytes_.data() + offset, take);
        return take;
    }

private:
    std::span<const std::uint8_t> bytes_;
};

// One chunk header: identifier, declared size, where its data starts.
struct Chunk {
    char id[4];
    std::uint32_t size;
    std::uint64_t data;
    // Where the next chunk at the same level starts: data padded to even.
    std::uint64_t Next() const { return data + size + (size & 1u); }
};

// The chunk whose header starts at pos, when its header lies wholly before end.
bool ReadHeader(const TRIFFINFO::Source& src, std::uint64_t pos, std::uint64_t end, Chunk& c) {
    if (pos > end || end - pos < 8)
        return false;
    std::uint8_t h[8];
    if (src.Read(pos, h, sizeof h) != sizeof h)
        return false;
    std::memcpy(c.id, h, 4);
    c.size = static_cast<std::uint32_t>(h[4]) | static_cast<std::uint32_t>(h[5]) << 8 |
             static_cast<std::uint32_t>(h[6]) << 16 | static_cast<std::uint32_t>(h[7]) << 24;
    c.data = pos + 8;
    return true;
}

bool Is(const char id[4], const char* name) {
    return std::memcmp(id, name, 4) == 0;
}

// The list type of a LIST or RIFF chunk, the first four bytes of its data.
bool ListType(const TRIFFINFO::Source& src, const Chunk& c, const char* type) {
    char t[4];
    return c.size >= 4 && src.Read(c.data, t, 4) == 4 && Is(t, type);
}

// The text of a sub-chunk: at most its size, no more than the file holds,
// cut at the first byte 0. Read in pieces so a huge declared size with an
// early terminator costs nothing.
std::string ReadText(const TRIFFINFO::Source& src, const Chunk& c) {
    std::uint64_t want = std::min<std::uint64_t>(c.size, TRIFFINFO::MaxTextSize);
    std::string text;
    char piece[4096];
    while (text.size() < want) {
        std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof piece, want - text.size()));
        std::size_t got = src.Read(c.data + text.size(), piece, n);
        const char* zero = static_cast<const char*>(std::memchr(piece, 0, got));
        if (zero) {
            text.append(piece, static_cast<std::size_t>(zero - piece));
            break;
        }
        text.append(piece, got);
        if (got < n)
            break;
    }
    return text;
}

} // namespace

TRIFFINFO::TRIFFINFO(const std::string& fileName) {
    FileSource src(fileName);
    if (src.IsOpen())
        Walk(src);
}

TRIFFINFO TRIFFINFO::FromFd(int fd) {
    TRIFFINFO info;
    FileSource src(fd, false);
    if (src.IsOpen())
        info.Walk(src);
    return info;
}

TRIFFINFO TRIFFINFO::FromBytes(std::span<const std::uint8_t> content) {
    TRIFFINFO info;
    info.Walk(MemorySource(content));
    return info;
}

std::string* TRIFFINFO::Slot(const char id[4]) {
    struct Item {
        const char* tag;
        std::string TRIFFINFO::*field;
    };
    static constexpr Item items[] = {
        {"IART", &TRIFFINFO::IART}, {"ICMS", &TRIFFINFO::ICMS}, {"ICMT", &TRIFFINFO::ICMT},
        {"ICOP", &TRIFFINFO::ICOP}, {"ICRD", &TRIFFINFO::ICRD}, {"IENG", &TRIFFINFO::IENG},
        {"IGNR", &TRIFFINFO::IGNR}, {"IKEY", &TRIFFINFO::IKEY}, {"INAM", &TRIFFINFO::INAM},
        {"IPRD", &TRIFFINFO::IPRD}, {"ISBJ", &TRIFFINFO::ISBJ}, {"ISFT", &TRIFFINFO::ISFT},
        {"ITCH", &TRIFFINFO::ITCH}, {"ILYC", &TRIFFINFO::ILYC},
    };
    for (const Item& item : items)
        if (Is(id, item.tag))
            return &(this->*item.field);
    return nullptr;
}

// The file must open with a RIFF chunk (any form type). Inside it chunks are
// searched from the start, skipping every other chunk by its padded size.
// Sizes that claim more than the file holds are clamped to the file, and
// every step moves forward by at least a header, so damaged files end the
// walk instead of looping or reading outside the file.
void TRIFFINFO::Walk(const Source& src) {
    const std::uint64_t fileEnd = src.Size();
    Chunk riff{};
    if (!ReadHeader(src, 0, fileEnd, riff) || !Is(riff.id, "RIFF") || riff.size < 4)
        return;
    const std::uint64_t riffEnd = std::min(riff.data + riff.size, fileEnd);

    Chunk list{};
    std::uint64_t pos = riff.data + 4;
    for (;;) {
        if (!ReadHeader(src, pos, riffEnd, list))
            return;
        if (Is(list.id, "LIST") && ListType(src, list, "INFO"))
            break;
        pos = list.Next();
    }
    const std::uint64_t listEnd = std::min(list.data + list.size, fileEnd);

    Chunk item{};
    for (pos = list.data + 4; ReadHeader(src, pos, listEnd, item); pos = item.Next()) {
        if (std::string* slot = Slot(item.id))
            *slot = ReadText(src, item);
    }
    Found = true;
}
