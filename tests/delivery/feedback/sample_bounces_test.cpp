// Real returned mail from many servers, as Debian's python3-flufl.bounce
// package ships it for its own tests, with the addresses each should yield.
// Only its sample files and its list of expected addresses are read.
#include "delivery/feedback/feedback_report.h"
#include "store/text.h"
#include "support/test_support.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>

namespace velmora::delivery {
namespace {

const std::string kSamples = VELMORA_FEEDBACK_SAMPLES_DIR;

// file -> expected addresses (lower case), from the package's list of
// (detector, file, [addresses], temporary?) entries. A file listed twice
// (two detectors) yields the union.
std::map<std::string, std::set<std::string>> expectedAddresses() {
    const std::string list = testing_support::readFileBytes(kSamples + "/testing/helpers.py");
    std::map<std::string, std::set<std::string>> expected;
    const std::regex entry(R"(\(\s*'\w+',\s*'([\w.]+)',\s*\[([^\]]*)\])");
    const std::regex address(R"(b'([^']*)')");
    for (auto it = std::sregex_iterator(list.begin(), list.end(), entry);
         it != std::sregex_iterator(); ++it) {
        std::set<std::string>& addresses = expected[(*it)[1]];
        const std::string inner = (*it)[2];
        for (auto a = std::sregex_iterator(inner.begin(), inner.end(), address);
             a != std::sregex_iterator(); ++a) {
            addresses.insert(store::toLowerAscii((*a)[1].str()));
        }
    }
    return expected;
}

// Samples whose notice names more people than failed (list owners, the
// sender's colleagues), or the recipient only in a form we do not read;
// they still must not crash and are checked not to lose the kind.
const std::set<std::string> kNotYetRead{"aol_01.txt",      "dsn_15.txt",    "llnl_01.txt",
                                        "sendmail_01.txt", "simple_42.txt", "simple_43.txt",
                                        "yale_01.txt"};

TEST(SampleBounces, ScanFindsTheSameAddresses) {
    if (!std::filesystem::exists(kSamples + "/testing/helpers.py")) {
        GTEST_SKIP() << "python3-flufl.bounce is not installed (scripts/setup.sh installs it)";
    }
    const std::map<std::string, std::set<std::string>> expected = expectedAddresses();
    ASSERT_GT(expected.size(), 100U);
    int matched = 0;
    for (const auto& [file, addresses] : expected) {
        const FeedbackReport report =
            classifyMessage(testing_support::readFileBytes(kSamples + "/tests/data/" + file));
        std::set<std::string> found;
        for (const FeedbackRecipient& recipient : report.recipients) {
            found.insert(store::toLowerAscii(recipient.address));
        }
        if (found == addresses) {
            ++matched;
        } else if (!kNotYetRead.contains(file)) {
            ADD_FAILURE() << file << ": " << feedbackKindName(report.kind) << ", found "
                          << testing::PrintToString(found) << ", expected "
                          << testing::PrintToString(addresses);
        }
        if (!addresses.empty()) {
            EXPECT_EQ(report.kind, FeedbackKind::Bounce) << file;
        }
    }
    // A sample we learn to read leaves the list.
    EXPECT_EQ(matched + kNotYetRead.size(), expected.size());
    RecordProperty("matched", matched);
}

} // namespace
} // namespace velmora::delivery
