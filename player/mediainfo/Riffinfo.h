// The text items of the "INFO" list inside a RIFF file (wave, AVI and other
// RIFF forms), found by walking the chunk structure ourselves.
#pragma once

#include <cstdint>
#include <span>
#include <string>

class TRIFFINFO {
public:
    // Reads the items; never fails. Anything unreadable leaves them empty.
    explicit TRIFFINFO(const std::string& fileName);
    // The same reading over a file's whole content held in memory.
    static TRIFFINFO FromBytes(std::span<const std::uint8_t> content);
    // The same reading from an open descriptor of a regular file (left open).
    static TRIFFINFO FromFd(int fd);

    // True once the INFO list was found and walked to its end.
    bool Found = false;
    // Values as stored, cut at their first byte 0.
    std::string IART, ICMS, ICMT, ICOP, ICRD, IENG, IGNR, IKEY, INAM, IPRD, ISBJ, ISFT, ITCH, ILYC;

    // Bytes kept of one item at most; the rest of a longer one is dropped.
    static constexpr std::uint64_t MaxTextSize = 1 << 20;

    // Random access to a file or a buffer, as the walker needs it.
    class Source {
    public:
        virtual std::uint64_t Size() const = 0;
        // Reads up to n bytes at offset; returns how many it got.
        virtual std::size_t Read(std::uint64_t offset, void* buffer, std::size_t n) const = 0;

    protected:
        ~Source() = default;
    };

private:
    TRIFFINFO() = default;
    void Walk(const Source& source);
    std::string* Slot(const char id[4]);
};
