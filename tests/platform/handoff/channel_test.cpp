// The channel between real processes: the stand-in player (handoff_peer)
// runs, forwards, freezes and is killed; the test looks at what each one
// prints and at the files the channel leaves.
#include "platform/commatext.h"
#include "platform/handoff/Channel.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace handoff;
using zarntest::Program;
using namespace std::chrono_literals;

namespace {

class Channel : public zarntest::FolderTest {
protected:
    void SetUp() override {
        peer = std::getenv("HANDOFF_PEER") ? std::getenv("HANDOFF_PEER") : "";
        if (peer.empty() || !fs::exists(peer))
            GTEST_SKIP() << "handoff_peer is not built";
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        scope = dir + "/scope";
    }
    void TearDown() override { processes.clear(); }

    Program& Start(const std::vector<std::string>& names, const std::string& mode = "",
                   int timeoutMs = 3000, int delayMs = 0) {
        std::vector<std::string> args = {peer, scope, std::to_string(timeoutMs)};
        args.insert(args.end(), names.begin(), names.end());
        Program::Environment env;
        if (!mode.empty())
            env["HANDOFF_PEER_MODE"] = mode;
        if (delayMs > 0)
            env["HANDOFF_PEER_DELAY_MS"] = std::to_string(delayMs);
        const std::string n = std::to_string(processes.size());
        processes.push_back(
            std::make_unique<Program>(args, env, dir + "/out" + n, dir + "/err" + n));
        return *processes.back();
    }
    std::string BlockPath() const { return handoff::BlockPath(dir + "/zarnplayer", scope); }

    std::string peer;
    std::string scope;
    std::vector<std::unique_ptr<Program>> processes;
};

} // namespace

TEST_F(Channel, ASecondStartHandsItsNamesToTheRunningOneAndEnds) {
    Program& running = Start({"/first.mp3"});
    ASSERT_EQ(running.Line(), "running");
    const std::vector<std::string> names = {"/music/a b,c.mp3", "/x/\"q\".wav", "/plain.au"};
    Program& second = Start(names);
    EXPECT_EQ(second.Line(), "forwarded");
    EXPECT_EQ(second.Wait(), 0) << second.Err();
    EXPECT_EQ(running.Line(), "list: " + CommaText(names));
    // An empty list is a list too.
    Program& third = Start({});
    EXPECT_EQ(third.Wait(), 0) << third.Err();
    EXPECT_EQ(running.Line(), "list: ");
}

TEST_F(Channel, TwoSecondStartsAtOnceArriveOneAfterTheOther) {
    Program& running = Start({});
    ASSERT_EQ(running.Line(), "running");
    const std::vector<std::string> one = {"/one/a.mp3", "/one/b c.mp3"};
    const std::vector<std::string> two = {"/two/x.mp3"};
    Program& a = Start(one);
    Program& b = Start(two);
    EXPECT_EQ(a.Wait(), 0) << a.Err();
    EXPECT_EQ(b.Wait(), 0) << b.Err();
    const std::string first = running.Line();
    const std::string second = running.Line();
    EXPECT_NE(first, second);
    for (const std::string& line : {first, second})
        EXPECT_TRUE(line == "list: " + CommaText(one) || line == "list: " + CommaText(two)) << line;
}

TEST_F(Channel, ASecondStartGivesUpOnAPlayerThatNeverAnswers) {
    Program& frozen = Start({}, "frozen");
    ASSERT_EQ(frozen.Line(), "running");
    const auto t0 = std::chrono::steady_clock::now();
    Program& second = Start({"/a.mp3"}, "", 400);
    EXPECT_EQ(second.Wait(), 2);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 400ms);
    EXPECT_NE(second.Err().find("did not answer within 0.4 s"), std::string::npos) << second.Err();
}

TEST_F(Channel, ASecondStartGivesUpWhileTheHandleIsStillZero) {
    Program& starting = Start({}, "unpublished");
    ASSERT_EQ(starting.Line(), "running");
    Program& second = Start({"/a.mp3"}, "", 300);
    EXPECT_EQ(second.Wait(), 2);
    EXPECT_NE(second.Err().find("did not get ready within 0.3 s"), std::string::npos)
        << second.Err();
}

// A start that gave up has said so: its names must not arrive later, nor
// may the next start's names be taken for its late connection.
TEST_F(Channel, ANamesListIsTakenOnlyWhileItsSenderWaits) {
    Program& slow = Start({}, "", 3000, 1000);
    ASSERT_EQ(slow.Line(), "running");
    Program& gaveUp = Start({"/a/1.mp3", "/a/2.mp3"}, "", 300);
    EXPECT_EQ(gaveUp.Wait(), 2);
    EXPECT_NE(gaveUp.Err().find("did not answer within 0.3 s"), std::string::npos) << gaveUp.Err();
    {
        // Its text is gone from the block.
        std::ifstream block(BlockPath(), std::ios::binary);
        char head[6] = {};
        block.read(head, sizeof head);
        EXPECT_EQ(head[4], 0);
    }
    Program& waits = Start({"/b.mp3"}, "", 8000);
    // The late connection is dropped, in a round of its own or with the
    // next start's.
    std::string line = slow.Line(3);
    if (line == "nothing taken")
        line = slow.Line(3);
    EXPECT_EQ(line, "list: /b.mp3");
    EXPECT_EQ(waits.Wait(), 0) << waits.Err();
    EXPECT_EQ(slow.Line(1.5), "") << "no other list arrives";
}

// Starts that give up at all moments against a player that answers late:
// each list arrives whole and once exactly when its sender said it was
// handed over, and no other list arrives.
TEST_F(Channel, EverySendersListArrivesWholeOrNotAtAll) {
    Program& slow = Start({}, "", 3000, 100);
    ASSERT_EQ(slow.Line(), "running");
    std::vector<std::vector<std::string>> lists;
    std::vector<Program*> senders;
    for (int i = 0; i < 10; ++i) {
        std::vector<std::string> names;
        for (int k = 0; k <= i % 3; ++k)
            names.push_back("/s" + std::to_string(i) + "/" + std::string(200 * (i + 1), 'x') +
                            std::to_string(k) + ".mp3");
        lists.push_back(names);
        // Half of them give up before the player gets to them.
        senders.push_back(&Start(names, "", i % 2 ? 60 : 2500));
    }
    std::multiset<std::string> expected;
    for (std::size_t i = 0; i < senders.size(); ++i) {
        const int status = senders[i]->Wait();
        ASSERT_TRUE(status == 0 || status == 2) << status;
        if (status == 0)
            expected.insert("list: " + CommaText(lists[i]));
    }
    std::multiset<std::string> arrived;
    for (std::string line = slow.Line(2); !line.empty(); line = slow.Line(1))
        if (line != "nothing taken")
            arrived.insert(line);
    EXPECT_EQ(arrived, expected);
}

TEST_F(Channel, AfterAKilledPlayerTheNextStartRunsAndServesOthers) {
    Program& first = Start({});
    ASSERT_EQ(first.Line(), "running");
    const std::string stale = BlockPath();
    ASSERT_FALSE(stale.empty());
    first.Kill();
    EXPECT_TRUE(fs::exists(stale)) << "a killed player leaves its block behind";
    Program& next = Start({});
    ASSERT_EQ(next.Line(), "running") << next.Err();
    Program& second = Start({"/after.mp3"});
    EXPECT_EQ(second.Wait(), 0) << second.Err();
    EXPECT_EQ(next.Line(), "list: /after.mp3");
}

TEST_F(Channel, AChildOfThePlayerDoesNotKeepItRunning) {
    Program& first = Start({}, "spawn");
    ASSERT_EQ(first.Line(), "running");
    first.Kill(); // its child, a sleep, lives on
    Program& next = Start({});
    EXPECT_EQ(next.Line(), "running") << next.Err();
}

TEST_F(Channel, AWaitingSecondStartBecomesThePlayerWhenTheOldOneEnds) {
    Program& frozen = Start({}, "frozen");
    ASSERT_EQ(frozen.Line(), "running");
    Program& second = Start({"/late.mp3"}, "", 5000);
    ASSERT_EQ(frozen.Line(), "connected");
    frozen.Kill();
    // It was waiting for an answer when the player died: it reports that.
    EXPECT_EQ(second.Wait(), 2);
    EXPECT_NE(second.Err().find("ended before it took the files"), std::string::npos)
        << second.Err();
    Program& unpublished = Start({}, "unpublished");
    ASSERT_EQ(unpublished.Line(), "running");
    Program& waiting = Start({"/x.mp3"}, "", 3000);
    std::this_thread::sleep_for(200ms);
    unpublished.Kill();
    // It was still waiting for the handle: now it is the player itself.
    EXPECT_EQ(waiting.Line(), "running") << waiting.Err();
}

TEST_F(Channel, ALongListIsCutToWholeNamesWithAWarning) {
    Program& running = Start({});
    ASSERT_EQ(running.Line(), "running");
    std::vector<std::string> names;
    std::size_t total = 0;
    for (int i = 0; total < 70000; ++i) {
        names.push_back("/long folder/" + std::string(90, static_cast<char>('a' + i % 26)) +
                        std::to_string(i) + ".mp3");
        total += names.back().size() + 3;
    }
    Program& second = Start(names);
    EXPECT_EQ(second.Wait(), 0) << second.Err();
    std::size_t taken = 0;
    const std::string fitted = FitCommaText(names, TextLimit, taken);
    EXPECT_EQ(running.Line(), "list: " + fitted);
    EXPECT_NE(second.Err().find("only the first " + std::to_string(taken) + " of " +
                                std::to_string(names.size())),
              std::string::npos)
        << second.Err();
    struct stat st = {};
    ASSERT_EQ(stat(BlockPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>(BlockSize)) << "the block never grows";
}

TEST_F(Channel, TheChannelsFilesArePrivate) {
    Program& running = Start({});
    ASSERT_EQ(running.Line(), "running");
    struct stat st = {};
    ASSERT_EQ(lstat((dir + "/zarnplayer").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(BlockPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    bool socket = false;
    for (const auto& e : fs::directory_iterator(dir + "/zarnplayer")) {
        ASSERT_EQ(lstat(e.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, geteuid());
        EXPECT_EQ(st.st_mode & 0077, 0u) << e.path();
        socket = socket || S_ISSOCK(st.st_mode);
    }
    EXPECT_TRUE(socket) << "the socket is a file in the folder, not an abstract name";
}

TEST(ChannelFolder, RefusesALinkAnOpenFolderAndAForeignOne) {
    const zarntest::TempDir temp("handoff-folder");
    const std::string base = temp.path();
    std::string error;
    EXPECT_TRUE(CheckFolder(base + "/fresh", error)) << error;
    struct stat st = {};
    ASSERT_EQ(stat((base + "/fresh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    fs::create_directory(base + "/real");
    chmod((base + "/real").c_str(), 0700);
    fs::create_symlink(base + "/real", base + "/link");
    EXPECT_FALSE(CheckFolder(base + "/link", error));
    EXPECT_NE(error.find("not a folder"), std::string::npos) << error;

    fs::create_directory(base + "/open");
    chmod((base + "/open").c_str(), 0755);
    EXPECT_FALSE(CheckFolder(base + "/open", error));
    EXPECT_NE(error.find("mode"), std::string::npos) << error;

    std::ofstream(base + "/file") << "x";
    EXPECT_FALSE(CheckFolder(base + "/file", error));

    if (geteuid() == 0) {
        fs::create_directory(base + "/foreign");
        chmod((base + "/foreign").c_str(), 0700);
        ASSERT_EQ(chown((base + "/foreign").c_str(), 65534, 65534), 0);
        EXPECT_FALSE(CheckFolder(base + "/foreign", error));
        EXPECT_NE(error.find("another user"), std::string::npos) << error;
    }
    // A refused folder means no hand-off: the start runs as a player alone.
    fs::create_directory(base + "/xdg");
    fs::create_symlink(base + "/real", base + "/xdg/zarnplayer");
    setenv("XDG_RUNTIME_DIR", (base + "/xdg").c_str(), 1);
    Start s = Decide({}, Settings{base + "/scope"});
    EXPECT_EQ(s.role, Role::Running);
    EXPECT_FALSE(s.receiver);
    EXPECT_NE(s.message.find("cannot hand over"), std::string::npos) << s.message;
    EXPECT_TRUE(fs::is_empty(base + "/real")) << "nothing was made behind the link";
}

TEST(ChannelBlock, ASecondStartNeverWritesIntoABlockThatIsNotPrivate) {
    const zarntest::TempDir temp("handoff-block");
    const std::string base = temp.path();
    setenv("XDG_RUNTIME_DIR", base.c_str(), 1);
    Settings settings{base + "/scope", 300ms};
    // Run, and note the block's name, then take the player's place by hand:
    // the lock held here and the block opened up to everybody.
    std::string name;
    {
        Start s = Decide({}, settings);
        ASSERT_TRUE(s.receiver) << s.message;
        name = s.receiver->BlockPath();
    }
    std::string error;
    const std::string folder = ChannelFolder(error);
    int lock = -1;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".running")
            lock = open(e.path().c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fchmod(fd, 0666), 0);
    ASSERT_EQ(ftruncate(fd, BlockSize), 0);
    auto* p = static_cast<std::uint8_t*>(
        mmap(nullptr, BlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    SetWindowHandle(Block(p, BlockSize), static_cast<std::uint32_t>(getpid()));
    Start second = Decide({"/a.mp3"}, settings);
    EXPECT_EQ(second.role, Role::Failed);
    EXPECT_EQ(p[4], 0) << "nothing was written into the open block";
    munmap(p, BlockSize);
    close(fd);
    unlink(name.c_str());
    close(lock);
}

// Another local user cannot take the block's name first: a shared-memory
// name derived from the user and the scope is not where the block is. Root
// could remove any such name, so both sides run as unprivileged users.
TEST(ChannelBlock, NamesAnotherUserMadeFirstDoNotStopTheHandOff) {
    if (geteuid() != 0)
        GTEST_SKIP() << "acting as two other users needs root";
    const zarntest::TempDir temp("handoff-squat");
    const std::string base = temp.path();
    ASSERT_EQ(chmod(base.c_str(), 0777), 0);
    const std::string scope = base + "/scope";
    const uid_t player = 65534, other = 65533;
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : scope)
        h = (h ^ c) * 1099511628211ull;
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(h));
    const std::string guessed = "/zarnplayer-" + std::to_string(player) + "-" + hash;
    // Runs body as user in a child; its exit status.
    const auto as = [](uid_t user, const std::function<int()>& body) {
        const pid_t pid = fork();
        if (pid == 0)
            _exit(setgid(user) != 0 || setuid(user) != 0 ? 3 : body());
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    ASSERT_EQ(
        as(other,
           [&] { return shm_open(guessed.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600) >= 0 ? 0 : 4; }),
        0);
    EXPECT_EQ(as(player,
                 [&] {
                     const std::string run = base + "/run";
                     if (mkdir(run.c_str(), 0700) != 0)
                         return 4;
                     setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
                     Start s = Decide({}, Settings{scope, 300ms});
                     if (!s.receiver)
                         std::fprintf(stderr, "%s\n", s.message.c_str());
                     return s.receiver ? 0 : 1;
                 }),
              0)
        << "1: the player could not set up its hand-off";
    shm_unlink(guessed.c_str());
}

// A peer of our own user that connects and then says nothing never holds
// up the player: each answer comes back at once, the peer is dropped after
// its time, and a real second start is answered meanwhile.
TEST_F(Channel, APeerThatConnectsAndStallsHoldsNothingUp) {
    handoff::Start s = Decide({}, Settings{scope});
    ASSERT_TRUE(s.receiver) << s.message;
    s.receiver->Publish();
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, s.receiver->SocketPath().c_str());
    const int stalled = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::vector<std::string> taken;
    const auto take = [&](const std::vector<std::string>& names) { taken = names; };
    auto slowest = std::chrono::steady_clock::duration::zero();
    const auto answer = [&] {
        const auto t0 = std::chrono::steady_clock::now();
        s.receiver->Answer(take);
        slowest = std::max(slowest, std::chrono::steady_clock::now() - t0);
    };
    answer();
    EXPECT_TRUE(s.receiver->Waiting());
    Program& second = Start({"/after.mp3"});
    const auto until = std::chrono::steady_clock::now() + 5s;
    while ((taken.empty() || s.receiver->Waiting()) && std::chrono::steady_clock::now() < until) {
        answer();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(second.Wait(), 0) << second.Err();
    EXPECT_EQ(taken, std::vector<std::string>{"/after.mp3"});
    EXPECT_FALSE(s.receiver->Waiting()) << "the stalled peer was dropped";
    EXPECT_LT(slowest, 200ms);
    char c;
    EXPECT_EQ(recv(stalled, &c, 1, 0), 0) << "and hung up on";
    close(stalled);
}

TEST(ChannelAnswer, OnlyAHandOffFromOurUserIsTaken) {
    const zarntest::TempDir temp("handoff-answer");
    const std::string base = temp.path();
    chmod(base.c_str(), 0777);
    const std::string path = base + "/s";
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    chmod(path.c_str(), 0777);
    ASSERT_EQ(listen(listener, 4), 0);
    std::vector<std::uint8_t> bytes(BlockSize, 0);
    Block block(bytes.data(), BlockSize);
    int taken = 0;
    auto take = [&](const std::vector<std::string>&) { ++taken; };

    // Connects (as uid when not -1) and sends msg; returns the answer bytes.
    auto client = [&](std::uint32_t msg, int uid) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (uid >= 0 && setresuid(uid, uid, uid) != 0)
                _exit(3);
            const int s = socket(AF_UNIX, SOCK_STREAM, 0);
            if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                _exit(4);
            send(s, &msg, sizeof msg, MSG_NOSIGNAL);
            char c;
            _exit(recv(s, &c, 1, 0) == 1 ? 0 : 1);
        }
        return pid;
    };
    Answerer answerer(listener, block);
    auto answer = [&](pid_t pid) {
        pollfd p = {listener, POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 3000), 1);
        bool result = answerer.Step(take);
        const auto until = std::chrono::steady_clock::now() + 3s;
        while (!result && answerer.Waiting() && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(1ms);
            result = answerer.Step(take);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return std::make_pair(result, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    };

    PutText(block, "/a.mp3");
    EXPECT_EQ(answer(client(0x1234, -1)), std::make_pair(false, 1)) << "another message";
    EXPECT_EQ(taken, 0);
    EXPECT_EQ(answer(client(WM_HANDOFF, -1)), std::make_pair(true, 0));
    EXPECT_EQ(taken, 1);
    if (geteuid() == 0) {
        PutText(block, "/b.mp3");
        EXPECT_EQ(answer(client(WM_HANDOFF, 65534)), std::make_pair(false, 1))
            << "another user is never answered";
        EXPECT_EQ(taken, 1);
        EXPECT_EQ(bytes[4], '/') << "and its hand-off is not taken";
    }
    close(listener);
}
