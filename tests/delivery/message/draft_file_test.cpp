#include "delivery/message/draft_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmora::delivery {

using testing_support::Bytes;
using testing_support::dataPath;
using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

MessageDraft sampleDraft() {
    MessageDraft d;
    d.fromText = " Ann Lee <ann@example.org> ";
    d.subject = "Spring offer ";
    d.attachment1 = "/home/ann/Price List.pdf";
    d.attachment2 = "";
    d.body = "<p>Dear customer,</p>\r\n<p>Grüße</p>";
    return d;
}

} // namespace

TEST(DraftFile, WritesTheGoldenFileAndReadsItBack) {
    const std::string golden = readFileBytes(dataPath("delivery/draft.eml"));
    EXPECT_EQ(encodeDraft(sampleDraft()), golden);
    const DraftReadResult read = readDraftBytes(golden);
    ASSERT_EQ(read.status, DraftReadStatus::Loaded);
    EXPECT_EQ(read.draft.fromText, sampleDraft().fromText);
    EXPECT_EQ(read.draft.subject, sampleDraft().subject);
    EXPECT_EQ(read.draft.attachment1, sampleDraft().attachment1);
    EXPECT_EQ(read.draft.attachment2, "");
    EXPECT_EQ(read.draft.body, sampleDraft().body);
}

TEST(DraftFile, EmptySubjectAndNoAttachmentsGiveThirtyOneBytesPlusFromAndBody) {
    MessageDraft d;
    d.fromText = "ann@example.org";
    d.body = "Hello";
    EXPECT_EQ(encodeDraft(d).size(), 31u + d.fromText.size() + d.body.size());
}

TEST(DraftFile, ForeignAndDamagedFilesAreToldApart) {
    EXPECT_EQ(readDraftBytes("").status, DraftReadStatus::HeaderMismatch);
    EXPECT_EQ(readDraftBytes(Bytes().str("QMZ101").bytes()).status,
              DraftReadStatus::HeaderMismatch);
    // A first string that only starts with the magic is not a draft: its
    // fields would be read from the wrong place.
    EXPECT_EQ(readDraftBytes(Bytes().str("EMLX1012").str("a").bytes()).status,
              DraftReadStatus::HeaderMismatch);

    const DraftReadResult shortFile =
        readDraftBytes(Bytes().str("EMLX101").str("ann@example.org").i32(50).raw("Hel").bytes());
    EXPECT_EQ(shortFile.status, DraftReadStatus::Damaged);
    EXPECT_EQ(shortFile.draft.fromText, "ann@example.org");
    EXPECT_EQ(shortFile.draft.subject, "Hel");
    EXPECT_EQ(shortFile.draft.body, "");

    const std::string whole = encodeDraft(sampleDraft());
    EXPECT_EQ(readDraftBytes(whole + "x").status, DraftReadStatus::Damaged);
    // A huge count is not trusted.
    EXPECT_EQ(readDraftBytes(Bytes().str("EMLX101").i32(0x7FFFFFFF).bytes()).status,
              DraftReadStatus::Damaged);
}

TEST(DraftFile, OlderSingleByteTextIsConverted) {
    const std::string bytes = Bytes()
                                  .str("EMLX101")
                                  .str("")
                                  .str("Gr\xFC\xDF")
                                  .str("")
                                  .str("")
                                  .str("caf\xE9 \x80")
                                  .bytes();
    const DraftReadResult read = readDraftBytes(bytes);
    ASSERT_EQ(read.status, DraftReadStatus::Loaded);
    EXPECT_EQ(read.draft.subject, "Grüß");
    EXPECT_EQ(read.draft.body, "café €");
}

TEST(DraftFile, SavesAtomicallyAndReadsFromDisk) {
    TempDir dir;
    const std::string path = dir.file("offer.eml");
    std::string error;
    ASSERT_TRUE(writeDraftFile(sampleDraft(), path, error)) << error;
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const DraftReadResult read = readDraftFile(path);
    EXPECT_EQ(read.status, DraftReadStatus::Loaded);
    EXPECT_EQ(read.draft.body, sampleDraft().body);

    EXPECT_FALSE(writeDraftFile(sampleDraft(), dir.file("no/such/folder.eml"), error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readDraftFile(dir.file("missing.eml")).status, DraftReadStatus::CannotOpen);
    EXPECT_EQ(readDraftFile(dir.path()).status, DraftReadStatus::CannotOpen);
}

TEST(DraftFile, ExtensionRuleAndTexts) {
    EXPECT_EQ(withDraftExtension("/tmp/offer"), "/tmp/offer.eml");
    EXPECT_EQ(withDraftExtension("/tmp/offer.EML"), "/tmp/offer.EML");
    EXPECT_EQ(withDraftExtension("/tmp/offer.eml.txt"), "/tmp/offer.eml.txt.eml");
    EXPECT_EQ(withDraftExtension("eml"), "eml.eml");
    EXPECT_EQ(draftSavedText("/tmp/a.eml"), "Email draft successfully saved to \"/tmp/a.eml\"");
}

TEST(DraftFile, AttachmentSizesAndTheAttachmentList) {
    TempDir dir;
    writeFileBytes(dir.file("a.bin"), std::string(2048 + 512, 'x'));
    EXPECT_FLOAT_EQ(attachmentSizeKb(dir.file("a.bin")), 2.5f);
    EXPECT_FLOAT_EQ(attachmentSizeKb(dir.file("gone.bin")), 0.0f);
    MessageDraft d;
    d.attachment2 = "/b";
    EXPECT_EQ(d.attachmentList(), std::vector<std::string>{"/b"});
    d.attachment1 = "/a";
    EXPECT_EQ(d.attachmentList(), (std::vector<std::string>{"/a", "/b"}));
}

} // namespace velmora::delivery
