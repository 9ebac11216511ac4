#include "store/session_lock.h"
#include "support/test_support.h"

#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::store {

using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::string hostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

} // namespace

TEST(SessionLock, LockFileIsHiddenBesideTheSessionAndNamesItsHolder) {
    TempDir dir;
    const std::string path = dir.file("spring.qmz");
    EXPECT_EQ(SessionLock::lockPathFor(path), dir.file(".spring.qmz.lock"));

    SessionLock lock;
    ASSERT_EQ(lock.acquire(path), SessionLock::Outcome::Acquired);
    EXPECT_EQ(readFileBytes(dir.file(".spring.qmz.lock")),
              std::to_string(::getpid()) + " " + hostName() + "\n");

    // A second holder, even in this process, is refused at once.
    SessionLock second;
    EXPECT_EQ(second.acquire(path), SessionLock::Outcome::InUse);
    EXPECT_EQ(second.message(), "Session file \"" + path +
                                    "\" is in use by another Velmora Mailtray (process " +
                                    std::to_string(::getpid()) + ").");
    EXPECT_FALSE(second.held());

    lock.release();
    EXPECT_FALSE(exists(dir.file(".spring.qmz.lock")));
    EXPECT_EQ(second.acquire(path), SessionLock::Outcome::Acquired);
}

TEST(SessionLock, EveryNameOfOneFileSharesItsLock) {
    TempDir dir;
    const std::string target = dir.file("real.qmz");
    writeFileBytes(target, "x");
    std::filesystem::create_symlink("real.qmz", dir.file("link.qmz"));
    // A link to a file not created yet leads to that file's lock too.
    std::filesystem::create_symlink("later.qmz", dir.file("dangling.qmz"));
    EXPECT_EQ(SessionLock::lockPathFor(dir.file("link.qmz")), dir.file(".real.qmz.lock"));
    EXPECT_EQ(SessionLock::lockPathFor(dir.file("dangling.qmz")), dir.file(".later.qmz.lock"));

    SessionLock viaLink;
    ASSERT_EQ(viaLink.acquire(dir.file("link.qmz")), SessionLock::Outcome::Acquired);
    SessionLock direct;
    EXPECT_EQ(direct.acquire(target), SessionLock::Outcome::InUse);
}

TEST(SessionLock, ALongestNameGetsAShorterLockNameOfItsOwn) {
    TempDir dir;
    const std::string a = dir.file(std::string(251, 'a') + ".qmz");
    const std::string b = dir.file(std::string(251, 'b') + ".qmz");
    const std::string lockA = SessionLock::lockPathFor(a);
    EXPECT_NE(lockA, SessionLock::lockPathFor(b));
    EXPECT_EQ(lockA, SessionLock::lockPathFor(a));
    EXPECT_EQ(std::filesystem::path(lockA).parent_path(), dir.path());
    SessionLock lock;
    EXPECT_EQ(lock.acquire(a), SessionLock::Outcome::Acquired) << lock.message();
}

TEST(SessionLock, WaitingTakesTheLockOnceTheHolderLetsGo) {
    TempDir dir;
    const std::string path = dir.file("s.qmz");
    SessionLock holder;
    ASSERT_EQ(holder.acquire(path), SessionLock::Outcome::Acquired);
    auto waiter = std::async(std::launch::async, [&] {
        SessionLock lock;
        return lock.acquire(path, 60);
    });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    holder.release();
    EXPECT_EQ(waiter.get(), SessionLock::Outcome::Acquired);
}

TEST(SessionLock, AFolderWithoutWriteAccessIsAFailureWithTheReason) {
    SessionLock lock;
    EXPECT_EQ(lock.acquire("/nonexistent-folder/s.qmz"), SessionLock::Outcome::Failed);
    EXPECT_EQ(lock.message(),
              "Cannot lock session file \"/nonexistent-folder/s.qmz\" - No such file or directory");
}

} // namespace velmora::store
