// The ID3v1 tag an MPEG audio file may carry in its last 128 bytes: only the
// title and the artist are read from it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

class TID3TAG {
public:
    static constexpr std::size_t TagSize = 128;

    // Reads the file's last 128 bytes; a file that cannot be read or is
    // shorter than a tag simply has none.
    explicit TID3TAG(const std::string& fileName);
    // The same reading over a file's whole content held in memory.
    static TID3TAG FromBytes(std::span<const std::uint8_t> content);
    // The same reading from an open descriptor of a regular file (left open).
    static TID3TAG FromFd(int fd);

    // The texts are bytes as stored; read them only when Found.
    std::string GetTitle() const;
    std::string GetArtist() const;

    bool Found = false;
    std::array<std::uint8_t, TagSize> Raw{};

private:
    TID3TAG() = default;
    void ReadFd(int fd);
    void Take(std::span<const std::uint8_t> tail);
    std::string Field(std::size_t offset) const;
};
