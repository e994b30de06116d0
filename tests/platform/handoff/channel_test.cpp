// The channel between real processes: the stand-in player (handoff_peer)
// runs, forwards, freezes and is killed; the test looks at what each one
// prints and at the files the channel leaves.
#include "platform/commatext.h"
#include "platform/handoff/Channel.h"
#include "tests/support/Files.h"

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
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace handoff;
using namespace std::chrono_literals;

namespace {

struct Process {
    pid_t pid = -1;
    int out = -1;
    std::string err;
    std::string buffered;

    // The next line of its stdout, or "" after the time.
    std::string Line(std::chrono::milliseconds wait = 5000ms) {
        const auto until = std::chrono::steady_clock::now() + wait;
        for (;;) {
            if (auto nl = buffered.find('\n'); nl != std::string::npos) {
                std::string line = buffered.substr(0, nl);
                buffered.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            pollfd p = {out, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return "";
            char chunk[4096];
            const ssize_t n = read(out, chunk, sizeof chunk);
            if (n <= 0)
                return "";
            buffered.append(chunk, static_cast<std::size_t>(n));
        }
    }
    // Waits for the exit; the status, or -1 when it had to be killed.
    int Wait(std::chrono::milliseconds wait = 15000ms) {
        const auto until = std::chrono::steady_clock::now() + wait;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > until) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                pid = -1;
                return -1;
            }
            std::this_thread::sleep_for(5ms);
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Kill(int sig = SIGKILL) {
        if (pid > 0) {
            kill(pid, sig);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
    ~Process() {
        Kill();
        if (out >= 0)
            close(out);
    }
};

class Channel : public ::testing::Test {
protected:
    void SetUp() override {
        peer = std::getenv("HANDOFF_PEER") ? std::getenv("HANDOFF_PEER") : "";
        if (peer.empty() || !fs::exists(peer))
            GTEST_SKIP() << "handoff_peer is not built";
        char pattern[] = "/tmp/zarn-handoff-XXXXXX";
        dir = mkdtemp(pattern);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        scope = dir + "/scope";
    }
    void TearDown() override {
        processes.clear();
        if (!dir.empty())
            fs::remove_all(dir);
    }

    Process& Start(const std::vector<std::string>& names, const std::string& mode = "",
                   int timeoutMs = 3000, int delayMs = 0) {
        auto p = std::make_unique<Process>();
        int pipeFds[2];
        EXPECT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
        p->err = dir + "/err" + std::to_string(processes.size());
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(pipeFds[1], 1);
            const int e = open(p->err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(e, 2);
            if (!mode.empty())
                setenv("HANDOFF_PEER_MODE", mode.c_str(), 1);
            if (delayMs > 0)
                setenv("HANDOFF_PEER_DELAY_MS", std::to_string(delayMs).c_str(), 1);
            std::vector<std::string> args = {peer, scope, std::to_string(timeoutMs)};
            args.insert(args.end(), names.begin(), names.end());
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(peer.c_str(), argv.data());
            _exit(127);
        }
        close(pipeFds[1]);
        p->pid = pid;
        p->out = pipeFds[0];
        processes.push_back(std::move(p));
        return *processes.back();
    }
    std::string Err(const Process& p) { return zarntest::ReadAll(p.err); }
    std::string BlockPath() const { return "/dev/shm" + BlockName(scope); }

    std::string peer;
    std::string dir;
    std::string scope;
    std::vector<std::unique_ptr<Process>> processes;
};

} // namespace

TEST_F(Channel, ASecondStartHandsItsNamesToTheRunningOneAndEnds) {
    Process& running = Start({"/first.mp3"});
    ASSERT_EQ(running.Line(), "running");
    const std::vector<std::string> names = {"/music/a b,c.mp3", "/x/\"q\".wav", "/plain.au"};
    Process& second = Start(names);
    EXPECT_EQ(second.Line(), "forwarded");
    EXPECT_EQ(second.Wait(), 0) << Err(second);
    EXPECT_EQ(running.Line(), "list: " + CommaText(names));
    // An empty list is a list too.
    Process& third = Start({});
    EXPECT_EQ(third.Wait(), 0) << Err(third);
    EXPECT_EQ(running.Line(), "list: ");
}

TEST_F(Channel, TwoSecondStartsAtOnceArriveOneAfterTheOther) {
    Process& running = Start({});
    ASSERT_EQ(running.Line(), "running");
    const std::vector<std::string> one = {"/one/a.mp3", "/one/b c.mp3"};
    const std::vector<std::string> two = {"/two/x.mp3"};
    Process& a = Start(one);
    Process& b = Start(two);
    EXPECT_EQ(a.Wait(), 0) << Err(a);
    EXPECT_EQ(b.Wait(), 0) << Err(b);
    const std::string first = running.Line();
    const std::string second = running.Line();
    EXPECT_NE(first, second);
    for (const std::string& line : {first, second})
        EXPECT_TRUE(line == "list: " + CommaText(one) || line == "list: " + CommaText(two)) << line;
}

TEST_F(Channel, ASecondStartGivesUpOnAPlayerThatNeverAnswers) {
    Process& frozen = Start({}, "frozen");
    ASSERT_EQ(frozen.Line(), "running");
    const auto t0 = std::chrono::steady_clock::now();
    Process& second = Start({"/a.mp3"}, "", 400);
    EXPECT_EQ(second.Wait(), 2);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 400ms);
    EXPECT_NE(Err(second).find("did not answer within 0.4 s"), std::string::npos) << Err(second);
}

TEST_F(Channel, ASecondStartGivesUpWhileTheHandleIsStillZero) {
    Process& starting = Start({}, "unpublished");
    ASSERT_EQ(starting.Line(), "running");
    Process& second = Start({"/a.mp3"}, "", 300);
    EXPECT_EQ(second.Wait(), 2);
    EXPECT_NE(Err(second).find("did not get ready within 0.3 s"), std::string::npos) << Err(second);
}

// A start that gave up has said so: its names must not arrive later, nor
// may the next start's names be taken for its late connection.
TEST_F(Channel, ANamesListIsTakenOnlyWhileItsSenderWaits) {
    Process& slow = Start({}, "", 3000, 1000);
    ASSERT_EQ(slow.Line(), "running");
    Process& gaveUp = Start({"/a/1.mp3", "/a/2.mp3"}, "", 300);
    EXPECT_EQ(gaveUp.Wait(), 2);
    EXPECT_NE(Err(gaveUp).find("did not answer within 0.3 s"), std::string::npos) << Err(gaveUp);
    {
        // Its text is gone from the block.
        std::ifstream block(BlockPath(), std::ios::binary);
        char head[6] = {};
        block.read(head, sizeof head);
        EXPECT_EQ(head[4], 0);
    }
    Process& waits = Start({"/b.mp3"}, "", 8000);
    EXPECT_EQ(slow.Line(3000ms), "nothing taken");
    EXPECT_EQ(slow.Line(3000ms), "list: /b.mp3");
    EXPECT_EQ(waits.Wait(), 0) << Err(waits);
    EXPECT_EQ(slow.Line(1500ms), "") << "no other list arrives";
}

// Starts that give up at all moments against a player that answers late:
// each list arrives whole and once exactly when its sender said it was
// handed over, and no other list arrives.
TEST_F(Channel, EverySendersListArrivesWholeOrNotAtAll) {
    Process& slow = Start({}, "", 3000, 100);
    ASSERT_EQ(slow.Line(), "running");
    std::vector<std::vector<std::string>> lists;
    std::vector<Process*> senders;
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
    for (std::string line = slow.Line(2000ms); !line.empty(); line = slow.Line(1000ms))
        if (line != "nothing taken")
            arrived.insert(line);
    EXPECT_EQ(arrived, expected);
}

TEST_F(Channel, AfterAKilledPlayerTheNextStartRunsAndServesOthers) {
    Process& first = Start({});
    ASSERT_EQ(first.Line(), "running");
    const std::string stale = BlockPath();
    ASSERT_FALSE(stale.empty());
    first.Kill(SIGKILL);
    EXPECT_TRUE(fs::exists(stale)) << "a killed player leaves its block behind";
    Process& next = Start({});
    ASSERT_EQ(next.Line(), "running") << Err(next);
    Process& second = Start({"/after.mp3"});
    EXPECT_EQ(second.Wait(), 0) << Err(second);
    EXPECT_EQ(next.Line(), "list: /after.mp3");
}

TEST_F(Channel, AChildOfThePlayerDoesNotKeepItRunning) {
    Process& first = Start({}, "spawn");
    ASSERT_EQ(first.Line(), "running");
    first.Kill(SIGKILL); // its child, a sleep, lives on
    Process& next = Start({});
    EXPECT_EQ(next.Line(), "running") << Err(next);
}

TEST_F(Channel, AWaitingSecondStartBecomesThePlayerWhenTheOldOneEnds) {
    Process& frozen = Start({}, "frozen");
    ASSERT_EQ(frozen.Line(), "running");
    Process& second = Start({"/late.mp3"}, "", 5000);
    ASSERT_EQ(frozen.Line(), "connected");
    frozen.Kill(SIGKILL);
    // It was waiting for an answer when the player died: it reports that.
    EXPECT_EQ(second.Wait(), 2);
    EXPECT_NE(Err(second).find("ended before it took the files"), std::string::npos) << Err(second);
    Process& unpublished = Start({}, "unpublished");
    ASSERT_EQ(unpublished.Line(), "running");
    Process& waiting = Start({"/x.mp3"}, "", 3000);
    std::this_thread::sleep_for(200ms);
    unpublished.Kill(SIGKILL);
    // It was still waiting for the handle: now it is the player itself.
    EXPECT_EQ(waiting.Line(), "running") << Err(waiting);
}

TEST_F(Channel, ALongListIsCutToWholeNamesWithAWarning) {
    Process& running = Start({});
    ASSERT_EQ(running.Line(), "running");
    std::vector<std::string> names;
    std::size_t total = 0;
    for (int i = 0; total < 70000; ++i) {
        names.push_back("/long folder/" + std::string(90, static_cast<char>('a' + i % 26)) +
                        std::to_string(i) + ".mp3");
        total += names.back().size() + 3;
    }
    Process& second = Start(names);
    EXPECT_EQ(second.Wait(), 0) << Err(second);
    std::size_t taken = 0;
    const std::string fitted = FitCommaText(names, TextLimit, taken);
    EXPECT_EQ(running.Line(), "list: " + fitted);
    EXPECT_NE(Err(second).find("only the first " + std::to_string(taken) + " of " +
                               std::to_string(names.size())),
              std::string::npos)
        << Err(second);
    struct stat st = {};
    ASSERT_EQ(stat(BlockPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>(BlockSize)) << "the block never grows";
}

TEST_F(Channel, TheChannelsFilesArePrivate) {
    Process& running = Start({});
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
    char pattern[] = "/tmp/zarn-handoff-folder-XXXXXX";
    const std::string base = mkdtemp(pattern);
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
    fs::remove_all(base);
}

TEST(ChannelBlock, ASecondStartNeverWritesIntoABlockThatIsNotPrivate) {
    char pattern[] = "/tmp/zarn-handoff-block-XXXXXX";
    const std::string base = mkdtemp(pattern);
    setenv("XDG_RUNTIME_DIR", base.c_str(), 1);
    Settings settings{base + "/scope", 300ms};
    // Run, and note the block's name, then take the player's place by hand:
    // the lock held here and the block opened up to everybody.
    std::string name;
    {
        Start s = Decide({}, settings);
        ASSERT_TRUE(s.receiver) << s.message;
        name = s.receiver->BlockName();
    }
    std::string error;
    const std::string folder = ChannelFolder(error);
    int lock = -1;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".running")
            lock = open(e.path().c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
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
    shm_unlink(name.c_str());
    close(lock);
    fs::remove_all(base);
}

TEST(ChannelAnswer, OnlyAHandOffFromOurUserIsTaken) {
    char pattern[] = "/tmp/zarn-handoff-answer-XXXXXX";
    const std::string base = mkdtemp(pattern);
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
    auto answer = [&](pid_t pid) {
        pollfd p = {listener, POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 3000), 1);
        const bool result = AnswerOne(listener, block, take);
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
    fs::remove_all(base);
}
