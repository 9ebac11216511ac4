#include "store/session_file.h"
#include "support/test_support.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace velmora::store {

using testing_support::Bytes;
using testing_support::dataPath;
using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

mode_t modeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

// The settings and counts of an empty new session, after the magic.
Bytes newSessionBody(std::int32_t groups, std::int32_t contacts, std::int32_t mailtray) {
    Bytes b;
    b.i32(1).i32(1).str("").str("-compose \"to='%from%',bcc='%mailtray%'\"").str("");
    b.i32(25).i32(15).i32(0).str("").str("").str("").str("").str("").i32(0);
    b.i32(groups).i32(contacts).i32(mailtray);
    return b;
}

} // namespace

TEST(SessionFile, NewSessionMatchesTheGoldenFile) {
    Session s;
    s.resetToNew();
    EXPECT_EQ(encodeSession(s), readFileBytes(dataPath("new_session.qmz")));
}

TEST(SessionFile, RichGoldenFileReadsFieldByFieldAndWritesBackByteForByte) {
    const std::string golden = readFileBytes(dataPath("rich_session.qmz"));
    SessionReadResult read = readSessionBytes(golden);
    ASSERT_EQ(read.status, SessionReadStatus::Loaded);
    const Session& s = read.session;

    const SessionSettings& st = s.settings();
    EXPECT_EQ(st.editorFormat, 0);
    EXPECT_EQ(st.deliveryMethod, 3);
    EXPECT_EQ(st.smtpServer, "smtp.example.org");
    EXPECT_EQ(st.smtpPort, 587);
    EXPECT_EQ(st.userName, "Ann.Lee");
    EXPECT_EQ(st.password, "S3cret!pass");
    EXPECT_EQ(st.fromAddress, "Ann Lee <ann@example.org>");
    EXPECT_EQ(st.signature, "Kind regards,\r\nAnn");
    EXPECT_EQ(st.includeSignature, 1);

    ASSERT_EQ(s.groupCount(), 3);
    EXPECT_EQ(s.group(2), (CampaignGroup{2, "Spring Fair", "Visitors of the\r\nfair"}));
    EXPECT_EQ(s.group(3).id, 7);

    ASSERT_EQ(s.contactCount(), 4);
    const Contact& ann = s.contact(1);
    EXPECT_EQ(ann.name, "Ann Lee");
    EXPECT_EQ(ann.address, "1 Main St\r\nSpringfield");
    EXPECT_EQ(ann.lastContacted, "03/07/2011");
    EXPECT_EQ(ann.timesContacted, 4);
    EXPECT_EQ(ann.notes, "met at fair\r\ncall back");
    EXPECT_EQ(ann.status, 2);
    EXPECT_EQ(ann.previousStatus, 1);
    EXPECT_EQ(ann.tag, 4);
    EXPECT_EQ(s.contact(3).status, -999); // Deleted slots are kept
    EXPECT_EQ(s.contact(4).name, "Zoë Ångström");
    EXPECT_EQ(s.liveContactCount(), 3);
    EXPECT_FALSE(s.emailExists("gone@example.org"));
    EXPECT_TRUE(s.emailExists("bob@example.org"));

    ASSERT_EQ(s.mailtrayCount(), 2);
    EXPECT_EQ(s.mailtrayEntry(2).id, 4);
    EXPECT_TRUE(s.mailtrayHasEmail("ZOË@example.org") || s.mailtrayHasEmail("zoë@example.org"));

    EXPECT_EQ(encodeSession(s), golden);
}

TEST(SessionFile, ScrambledFieldsAreStoredRotatedAndDatesAsTheyAre) {
    Session s;
    s.resetToNew();
    NewContact c;
    c.email = "ann@example.org";
    c.name = "Ann Lee";
    s.createContact(c, "03/07/2011");
    const std::string bytes = encodeSession(s);
    EXPECT_NE(bytes.find(Bytes().str("Naa Yrr").bytes()), std::string::npos);
    EXPECT_NE(bytes.find(Bytes().str("never").str("03/07/2011").bytes()), std::string::npos);
    EXPECT_EQ(bytes.find("Ann Lee"), std::string::npos);
}

TEST(SessionFile, OlderWindows1252TextIsConvertedToUtf8) {
    SessionReadResult read = readSessionBytes(readFileBytes(dataPath("legacy_cp1252.qmz")));
    ASSERT_EQ(read.status, SessionReadStatus::Loaded);
    EXPECT_EQ(read.session.contact(1).name, "José Müller");
    EXPECT_EQ(read.session.contact(1).notes, "“quoted”");
    EXPECT_EQ(read.session.settings().signature, "Grüße €");
    // Written back, the text is UTF-8 and reads the same.
    SessionReadResult again = readSessionBytes(encodeSession(read.session));
    ASSERT_EQ(again.status, SessionReadStatus::Loaded);
    EXPECT_EQ(again.session.contact(1).name, "José Müller");
}

TEST(SessionFile, WrongMagicIsAHeaderMismatch) {
    const std::string body = newSessionBody(0, 0, 0).bytes();
    for (const std::string& start :
         {Bytes().str("qmz101").bytes(), Bytes().raw("QMZ101").bytes(),
          Bytes().str("QMZ1011").bytes(), Bytes().str("EMLX101").bytes(), std::string()}) {
        EXPECT_EQ(readSessionBytes(start + body).status, SessionReadStatus::HeaderMismatch);
    }
}

TEST(SessionFile, NegativeAndHugeCountsNeitherCrashNorAllocate) {
    const std::string negative =
        Bytes().str("QMZ101").raw(newSessionBody(-3, -1, -100).bytes()).bytes();
    SessionReadResult read = readSessionBytes(negative);
    EXPECT_EQ(read.status, SessionReadStatus::Loaded);
    EXPECT_EQ(read.session.groupCount(), 0);
    EXPECT_EQ(read.session.contactCount(), 0);

    const std::string huge =
        Bytes().str("QMZ101").raw(newSessionBody(0, 0x7FFFFFFF, 0x7FFFFFFF).bytes()).bytes();
    read = readSessionBytes(huge);
    EXPECT_EQ(read.status, SessionReadStatus::Damaged);
    EXPECT_EQ(read.session.contactCount(), 0);
}

TEST(SessionFile, EveryTruncationLoadsAPrefixAndIsReportedDamaged) {
    const std::string golden = readFileBytes(dataPath("rich_session.qmz"));
    const SessionReadResult whole = readSessionBytes(golden);
    for (std::size_t cut = 10; cut < golden.size(); ++cut) {
        SessionReadResult read = readSessionBytes(std::string_view(golden).substr(0, cut));
        ASSERT_EQ(read.status, SessionReadStatus::Damaged) << "cut at " << cut;
        // Whole records read before the cut are exactly those of the file.
        for (std::int32_t slot = 1; slot < read.session.contactCount(); ++slot) {
            ASSERT_EQ(read.session.contact(slot), whole.session.contact(slot)) << cut;
        }
    }
}

TEST(SessionFile, ReadFileNamesTheSessionAfterItsPath) {
    SessionReadResult read = readSessionFile(dataPath("rich_session.qmz"));
    ASSERT_EQ(read.status, SessionReadStatus::Loaded);
    EXPECT_EQ(read.session.sessionFileName, dataPath("rich_session.qmz"));
    EXPECT_EQ(read.session.contactCount(), 4);

    read = readSessionFile("/nonexistent/folder/x.qmz");
    EXPECT_EQ(read.status, SessionReadStatus::CannotOpen);
    EXPECT_EQ(read.reason, "No such file or directory");
}

TEST(SessionFile, SavedSessionReadsBackIdentical) {
    TempDir dir;
    SessionReadResult original = readSessionFile(dataPath("rich_session.qmz"));
    std::string error;
    ASSERT_TRUE(writeSessionFile(original.session, dir.file("copy.qmz"), error)) << error;
    EXPECT_EQ(readFileBytes(dir.file("copy.qmz")), readFileBytes(dataPath("rich_session.qmz")));
}

TEST(SessionFile, NewFilesAreOwnerOnlyAndReplacedFilesKeepTheirMode) {
    TempDir dir;
    Session s;
    s.resetToNew();
    std::string error;
    ASSERT_TRUE(writeSessionFile(s, dir.file("new.qmz"), error)) << error;
    EXPECT_EQ(modeOf(dir.file("new.qmz")), 0600u);

    writeFileBytes(dir.file("shared.qmz"), "old");
    ASSERT_EQ(::chmod(dir.file("shared.qmz").c_str(), 0640), 0);
    ASSERT_TRUE(writeSessionFile(s, dir.file("shared.qmz"), error)) << error;
    EXPECT_EQ(modeOf(dir.file("shared.qmz")), 0640u);
    EXPECT_EQ(readFileBytes(dir.file("shared.qmz")), encodeSession(s));
}

TEST(SessionFile, FailedSaveLeavesTheOldFileWholeAndNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.file("keep.qmz");
    writeFileBytes(path, "the old session");
    Session big;
    big.resetToNew();
    for (int i = 0; i < 20000; ++i) {
        NewContact c;
        c.email = "person" + std::to_string(i) + "@example.org";
        big.createContact(c, "12/07/2026");
    }
    // Make the disk "full" for this process: writes past 64 KiB fail.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool saved = writeSessionFile(big, path, error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(saved);
    EXPECT_EQ(error, "File too large");
    EXPECT_EQ(readFileBytes(path), "the old session");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(SessionFile, SavingIntoAMissingFolderFailsWithTheReason) {
    Session s;
    s.resetToNew();
    std::string error;
    EXPECT_FALSE(writeSessionFile(s, "/nonexistent/folder/x.qmz", error));
    EXPECT_EQ(error, "No such file or directory");
}

TEST(SessionFile, ExtensionBlockReadsKnownAndUnknownKeysAndWritesThemBack) {
    const std::string golden = readFileBytes(dataPath("extension_session.qmz"));
    SessionReadResult read = readSessionBytes(golden);
    ASSERT_EQ(read.status, SessionReadStatus::Loaded);
    const ExtensionSettings& ext = read.session.settings().extensions;
    EXPECT_EQ(ext.value("smtpSecurity"), "tls");
    EXPECT_EQ(ext.value("futureKey"), "kept as is");
    EXPECT_EQ(ext.value("smtpAuthMechanism"), "auto"); // absent: the default
    EXPECT_EQ(ext.integer("messagesPerConnection"), 1);
    EXPECT_TRUE(ext.boolean("textAlternative"));
    EXPECT_EQ(encodeSession(read.session), golden);

    // Back to the default, with only the unknown key left, the block stays;
    // without that either, the file is the plain layout again.
    SessionSettings settings = read.session.settings();
    settings.extensions.set("smtpSecurity", "auto");
    read.session.setSettings(settings);
    EXPECT_NE(encodeSession(read.session), readFileBytes(dataPath("new_session.qmz")));
    settings.extensions.remove("futureKey");
    read.session.setSettings(settings);
    EXPECT_EQ(encodeSession(read.session), readFileBytes(dataPath("new_session.qmz")));
}

TEST(SessionFile, ExtensionBlockCutShortIsDamagedAndForeignTrailingBytesAreIgnored) {
    const std::string golden = readFileBytes(dataPath("extension_session.qmz"));
    for (std::size_t cut = 1; cut < 30; ++cut) {
        SessionReadResult read =
            readSessionBytes(std::string_view(golden).substr(0, golden.size() - cut));
        EXPECT_EQ(read.status, SessionReadStatus::Damaged) << "cut " << cut;
    }
    std::string trailing = readFileBytes(dataPath("new_session.qmz"));
    trailing += Bytes().str("JUNK").i32(5).bytes();
    SessionReadResult read = readSessionBytes(trailing);
    EXPECT_EQ(read.status, SessionReadStatus::Loaded);
    EXPECT_TRUE(read.session.settings().extensions.empty());
}

TEST(ExtensionSettings, ValuesAreCheckedAgainstTheirKindAndNormalised) {
    struct Case {
        const char* key;
        std::string value;
        bool accepted;
        const char* stored;
    };
    const Case cases[] = {
        {"smtpSecurity", "STARTTLS", true, "starttls"},
        {"smtpSecurity", "ssl", false, ""},
        {"messagesPerConnection", "0", false, ""},
        {"messagesPerConnection", "007", true, "7"},
        {"ratePerHour", "12x", false, ""},
        {"textAlternative", "yes", false, ""},
        {"tlsPinSha256", std::string(64, 'a'), true, ""},
        {"tlsPinSha256", "abc", false, ""},
        {"unsubscribeUrl", "http://x.org/u", false, ""},
        {"heloName", "mail\r\nRCPT TO:<x>", false, ""},
    };
    for (const Case& c : cases) {
        const ExtensionKey* key = findExtensionKey(c.key);
        ASSERT_NE(key, nullptr) << c.key;
        std::string value = c.value;
        const auto refusal = validateExtensionValue(*key, value);
        EXPECT_EQ(!refusal.has_value(), c.accepted) << c.key << "=" << c.value;
        if (c.accepted && *c.stored != '\0') {
            EXPECT_EQ(value, c.stored);
        }
    }
    ExtensionSettings ext;
    ext.set("ratePerMinute", "-5"); // stored raw, but never used as such
    EXPECT_EQ(ext.integer("ratePerMinute"), 0);
}

} // namespace velmora::store
