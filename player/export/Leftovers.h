// The files an export keeps while it runs: the partial output beside its
// final name and the private capture folder in TMPDIR. A live export holds
// an exclusive flock on each for its whole life, so one that nobody holds
// belongs to an export that died (kill -9, a power cut) and is removed by the
// next export. Only names of our own pattern, owned by this user, are looked
// at.
#pragma once

#include <string>

namespace exporter {

// A file or folder under an exclusive flock, held until the object is gone.
class HeldLock {
public:
    HeldLock() = default;
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    ~HeldLock();
    // Takes over `fd`, whose lock is held, releasing any lock held before.
    void Hold(int fd);
    void Release();
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Creates ".NAME.zarn-XXXXXX" beside `output` and locks it. Returns the
// path, or "" with errno set.
std::string MakePartial(const std::string& output, HeldLock& lock);

// Creates "zarnplayer-export-XXXXXX" in `tmp` and locks it. Returns the
// path, or "" with errno set.
std::string MakeCaptureFolder(const std::string& tmp, HeldLock& lock);

// The files inside a capture folder, all of which the folder's owner made.
inline constexpr const char* kCaptureName = "capture.wav";

// Removes the partial outputs in `folder` and the capture folders in `tmp`
// whose export died.
void RemoveDeadPartials(const std::string& folder);
void RemoveDeadCaptureFolders(const std::string& tmp);

} // namespace exporter
