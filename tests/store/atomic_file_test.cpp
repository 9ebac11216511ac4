#include "store/atomic_file.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace velmora::store {

using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t kindOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & S_IFMT;
}

void backdate(const std::string& path, int seconds) {
    const auto when = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(seconds);
    std::filesystem::last_write_time(path, when);
}

Session sessionWith(int contacts) {
    Session s;
    s.resetToNew();
    for (int i = 0; i < contacts; ++i) {
        NewContact c;
        c.email = "person" + std::to_string(i) + "@example.org";
        s.createContact(c, "12/07/2026");
    }
    return s;
}

} // namespace

TEST(AtomicSave, TemporaryFilesAreHiddenAndALongestNameStillSaves) {
    TempDir dir;
    EXPECT_EQ(AtomicFile::temporaryPrefix(dir.file("s.qmz")), dir.file(".s.qmz.mtsave-"));
    // 255 bytes: the longest name; its temporary name is a shorter one.
    const std::string longest = dir.file(std::string(251, 'n') + ".qmz");
    const std::string prefix = AtomicFile::temporaryPrefix(longest);
    EXPECT_TRUE(std::filesystem::path(prefix).filename().string().starts_with(".mtsave-"));
    std::string error;
    ASSERT_TRUE(writeFileAtomically(longest, "saved", error)) << error;
    EXPECT_EQ(readFileBytes(longest), "saved");
    EXPECT_EQ(namesIn(dir.path()).size(), 1u);
}

TEST(AtomicSave, StaleTemporariesOfThisFileAreRemovedAndNothingElse) {
    TempDir dir;
    const std::string target = dir.file("s.qmz");
    const std::vector<std::string> stale = {".s.qmz.mtsave-Ab12Cd", "s.qmz.tmp-x1Y2z3"};
    const std::vector<std::string> kept = {
        ".s.qmz.mtsave-Ab12Cd7", // not our pattern: one character more
        ".t.qmz.mtsave-Ab12Cd",  // another file's
        ".s.qmz.mtsave-fresh1",  // ours, but a save may be writing it now
        "s.qmz.tmp-ab!cde",      // not mkstemp's letters
    };
    for (const auto& name : stale) {
        writeFileBytes(dir.file(name), "old");
        backdate(dir.file(name), 61);
    }
    for (const auto& name : kept) {
        writeFileBytes(dir.file(name), "keep");
        if (name != ".s.qmz.mtsave-fresh1") {
            backdate(dir.file(name), 3600);
        }
    }
    std::string error;
    ASSERT_TRUE(writeFileAtomically(target, "new", error)) << error;
    std::vector<std::string> expected = kept;
    expected.push_back("s.qmz");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(namesIn(dir.path()), expected);
}

TEST(AtomicSave, TargetsThatAreNotRegularFilesAreWrittenInPlaceOrRefused) {
    struct Row {
        const char* name;
        std::function<std::string(const TempDir&)> make;
        bool saved;
        const char* error;
    };
    const std::vector<Row> table = {
        {"character device",
         [](const TempDir& d) {
             const std::string path = d.file("null");
             // A null device of our own: never the system's.
             return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 ? path
                                                                              : std::string();
         },
         true, ""},
        {"FIFO nobody reads",
         [](const TempDir& d) {
             ::mkfifo(d.file("fifo").c_str(), 0600);
             return d.file("fifo");
         },
         false, "no program is reading from it"},
        {"directory",
         [](const TempDir& d) {
             std::filesystem::create_directory(d.file("dir"));
             return d.file("dir");
         },
         false, "Is a directory"},
        {"socket",
         [](const TempDir& d) {
             const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             std::snprintf(address.sun_path, sizeof address.sun_path, "%s", d.file("sock").c_str());
             ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
             return d.file("sock");
         },
         false, "is a socket, not a file"},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string path = row.make(dir);
        if (path.empty()) {
            std::cout << "[ INFO ] no device node may be made here; skipped\n";
            continue;
        }
        const mode_t kind = kindOf(path);
        const Session session = sessionWith(10);
        ::alarm(30);
        std::string error;
        EXPECT_EQ(writeSessionFile(session, path, error), row.saved);
        ::alarm(0);
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(kindOf(path), kind) << "the node itself stays";
        const auto names = namesIn(dir.path());
        EXPECT_EQ(names.size(), 1u) << "no temporary file is left";
    }
}

TEST(AtomicSave, AFifoWithAReaderGetsTheBytes) {
    TempDir dir;
    const std::string path = dir.file("fifo");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = readFileBytes(path); });
    // The reader's open may come later than our first try: wait for it.
    std::string error;
    bool saved = false;
    for (int attempt = 0; attempt < 2000 && !saved; ++attempt) {
        saved = writeFileAtomically(path, "through the pipe", error);
        if (!saved) {
            std::this_thread::yield();
        }
    }
    reader.join();
    EXPECT_TRUE(saved) << error;
    EXPECT_EQ(received, "through the pipe");
    EXPECT_EQ(kindOf(path), static_cast<mode_t>(S_IFIFO));
}

TEST(AtomicSave, SavingThroughASymbolicLinkKeepsTheLink) {
    TempDir dir;
    writeFileBytes(dir.file("real.qmz"), "old");
    std::filesystem::create_symlink("real.qmz", dir.file("link.qmz"));
    std::filesystem::create_symlink("later.qmz", dir.file("dangling.qmz"));
    std::string error;
    ASSERT_TRUE(writeFileAtomically(dir.file("link.qmz"), "new", error)) << error;
    ASSERT_TRUE(writeFileAtomically(dir.file("dangling.qmz"), "created", error)) << error;
    EXPECT_EQ(kindOf(dir.file("link.qmz")), static_cast<mode_t>(S_IFLNK));
    EXPECT_EQ(kindOf(dir.file("dangling.qmz")), static_cast<mode_t>(S_IFLNK));
    EXPECT_EQ(readFileBytes(dir.file("real.qmz")), "new");
    EXPECT_EQ(readFileBytes(dir.file("later.qmz")), "created");
}

// A save killed at any moment leaves the old or the new session whole, and
// the next save (a minute later) leaves no stray temporary file.
TEST(AtomicSave, ASaveKilledAtRandomPointsLeavesOneWholeFile) {
    TempDir dir;
    const std::string path = dir.file("s.qmz");
    const Session small = sessionWith(1);
    const Session large = sessionWith(30000);
    std::string error;
    ASSERT_TRUE(writeSessionFile(small, path, error)) << error;
    std::mt19937 random(12345);
    int killedWhileWriting = 0;
    for (int round = 0; round < 25; ++round) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            (void)::write(ready[1], "go", 2);
            std::string childError;
            for (int i = 0;; ++i) {
                writeSessionFile(i % 2 == 0 ? large : small, path, childError);
            }
        }
        ::close(ready[1]);
        char go[2];
        ASSERT_EQ(::read(ready[0], go, 2), 2);
        ::close(ready[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);

        const SessionReadResult read = readSessionFile(path);
        ASSERT_EQ(read.status, SessionReadStatus::Loaded) << "round " << round;
        EXPECT_TRUE(read.session.contactCount() == 1 || read.session.contactCount() == 30000)
            << read.session.contactCount();
        for (const std::string& name : namesIn(dir.path())) {
            if (name != "s.qmz") {
                ++killedWhileWriting;
                backdate(dir.file(name), 120); // as if found a while later
            }
        }
        ASSERT_TRUE(writeSessionFile(small, path, error)) << error;
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"s.qmz"}) << "round " << round;
    }
    std::cout << "[ INFO ] " << killedWhileWriting << " of 25 saves were killed mid-write\n";
}

} // namespace velmora::store
