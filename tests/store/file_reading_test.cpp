// Every reader against files that are not what they seem: each case must end
// at once with the real reason, and nothing may fill the memory.
#include "contacts/contact_adding.h"
#include "delivery/message/draft_file.h"
#include "delivery/message/message_builder.h"
#include "delivery/message/mime_types_file.h"
#include "store/file_reading.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace velmora::store {

using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

// Any reader that blocks or reads without end ends the whole test binary
// (alarm) or fails to allocate (address-space limit), instead of hanging
// the machine.
class Bounded {
public:
    Bounded() {
        ::alarm(60);
        ::getrlimit(RLIMIT_AS, &old_);
#ifndef __SANITIZE_ADDRESS__ // its shadow memory needs address space at will
        struct rlimit tight = old_;
        tight.rlim_cur = currentAddressSpace() + 768ull * 1024 * 1024;
        ::setrlimit(RLIMIT_AS, &tight);
#endif
    }
    ~Bounded() {
        ::setrlimit(RLIMIT_AS, &old_);
        ::alarm(0);
    }

private:
    static rlim_t currentAddressSpace() {
        unsigned long long pages = 0;
        if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%llu", &pages) != 1) {
                pages = 0;
            }
            std::fclose(statm);
        }
        return static_cast<rlim_t>(pages *
                                   static_cast<unsigned long long>(::sysconf(_SC_PAGESIZE)));
    }
    struct rlimit old_ {};
};

struct HostileFile {
    const char* name;
    std::function<std::string(const TempDir&)> make; // returns the path
    const char* reason;                              // every reader's reason
};

std::string fifo(const TempDir& dir) {
    const std::string path = dir.file("fifo");
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    return path;
}

std::string zeroDevice(const TempDir& dir) {
    // Our own node of the zero device when we may make one; reading the
    // system's is harmless.
    const std::string path = dir.file("zero");
    if (::mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0) {
        return path;
    }
    return "/dev/zero";
}

std::string listeningSocket(const TempDir& dir) {
    const std::string path = dir.file("socket");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::listen(fd, 1);
    return path; // the descriptor stays open for the test's life
}

std::string sparseFile(const TempDir& dir, std::uint64_t size) {
    const std::string path = dir.file("big");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
    return path;
}

} // namespace

TEST(HostileFiles, EveryReaderRefusesWhatIsNotARegularFileWithTheReason) {
    const std::vector<HostileFile> table = {
        {"FIFO without a writer", fifo, "is not a regular file"},
        {"character device", zeroDevice, "is not a regular file"},
        {"socket", listeningSocket, "is not a regular file"},
        {"directory", [](const TempDir& d) { return d.path(); }, "Is a directory"},
        {"missing", [](const TempDir& d) { return d.file("none"); }, "No such file or directory"},
    };
    for (const HostileFile& row : table) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string path = row.make(dir);
        Bounded bounded;

        const SessionReadResult session = readSessionFile(path);
        EXPECT_EQ(session.status, SessionReadStatus::CannotOpen);
        EXPECT_EQ(session.reason, row.reason);

        const delivery::DraftReadResult draft = delivery::readDraftFile(path);
        EXPECT_EQ(draft.status, delivery::DraftReadStatus::CannotOpen);
        EXPECT_EQ(draft.reason, row.reason);

        std::string bytes;
        std::string error;
        EXPECT_FALSE(contacts::readAddressListFile(path, bytes, error));
        EXPECT_EQ(error, row.reason);

        EXPECT_FALSE(delivery::MimeTypesFile(path).loaded());

        // An attachment that cannot be read stops a run before anything is sent.
        const std::optional<std::string> problem = delivery::checkAttachments({path});
        ASSERT_TRUE(problem.has_value());
        EXPECT_NE(problem->find(std::string(" - ") + row.reason + "."), std::string::npos)
            << *problem;
    }
}

TEST(HostileFiles, AddressListsAreBoundedInSizeAndLineLength) {
    TempDir dir;
    Bounded bounded;
    std::string bytes;
    std::string error;
    // Refused by its size, without reading 256 MiB.
    EXPECT_FALSE(contacts::readAddressListFile(sparseFile(dir, contacts::kMaxAddressListBytes + 1),
                                               bytes, error));
    EXPECT_EQ(error, "is larger than 256 MiB");

    const std::string longLine = dir.file("line.txt");
    writeFileBytes(longLine,
                   "a@x.org\r\n" + std::string(contacts::kMaxAddressListLine + 1, 'b') + "\n");
    EXPECT_FALSE(contacts::readAddressListFile(longLine, bytes, error));
    EXPECT_EQ(error, "has a line longer than 1 MiB");
    EXPECT_TRUE(bytes.empty());

    const std::string fits = dir.file("fits.txt");
    writeFileBytes(fits, "a@x.org\r\n" + std::string(contacts::kMaxAddressListLine, 'b'));
    EXPECT_TRUE(contacts::readAddressListFile(fits, bytes, error)) << error;
    EXPECT_EQ(bytes.size(), contacts::kMaxAddressListLine + 9);
}

TEST(HostileFiles, ASessionGivenAsAPipeIsReadToItsEndAndADraftIsRefused) {
    Session original;
    original.resetToNew();
    for (int i = 0; i < 3000; ++i) { // more than a pipe buffer holds
        NewContact c;
        c.email = "p" + std::to_string(i) + "@example.org";
        original.createContact(c, "12/07/2026");
    }
    const std::string bytes = encodeSession(original);
    for (const bool asDraft : {false, true}) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        std::thread writer([&] {
            (void)::write(fds[1], bytes.data(), asDraft ? 10 : bytes.size());
            ::close(fds[1]);
        });
        const std::string path = "/proc/self/fd/" + std::to_string(fds[0]);
        if (asDraft) {
            EXPECT_EQ(delivery::readDraftFile(path).reason, "is not a regular file");
        } else {
            const SessionReadResult read = readSessionFile(path);
            ASSERT_EQ(read.status, SessionReadStatus::Loaded) << read.reason;
            EXPECT_EQ(read.session.contactCount(), 3000);
            EXPECT_EQ(read.session.contact(3000).email, "p2999@example.org");
        }
        writer.join();
        ::close(fds[0]);
    }
}

TEST(HostileFiles, ReadErrorsNeverSaySuccess) {
    EXPECT_EQ(systemErrorText(0), "Input/output error");
    EXPECT_EQ(systemErrorText(ENOENT), "No such file or directory");
}

} // namespace velmora::store
