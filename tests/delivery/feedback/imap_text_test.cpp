// What goes to the feedback mailbox's server and what is read from its
// answers, without a server.
#include "delivery/feedback/imap_text.h"
#include "store/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sstream>

namespace velmora::delivery {
namespace {

// "\xNN" in the data file is the byte NN, so that names that are not
// UTF-8 can be kept there too.
std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size() &&
            store::hexDigitValue(text[i + 2]) >= 0 && store::hexDigitValue(text[i + 3]) >= 0) {
            out += static_cast<char>(store::hexDigitValue(text[i + 2]) * 16 +
                                     store::hexDigitValue(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

TEST(ImapFolderName, EncodesEveryNameOfTheTable) {
    std::istringstream table(testing_support::readFileBytes(
        testing_support::dataPath("delivery/feedback/folder_names.tsv")));
    std::size_t rows = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        EXPECT_EQ(imapFolderName(unescaped(line.substr(0, tab))), line.substr(tab + 1)) << line;
        ++rows;
    }
    EXPECT_GT(rows, 10U);
    EXPECT_EQ(imapQuoted(R"(a"b\c)"), R"("a\"b\\c")");
}

TEST(ImapAnswers, ReadsOnlyWhatTheLinesHold) {
    const std::string answer =
        "* OK [CAPABILITY IMAP4rev1 STARTTLS] ready\r\n"
        "* CAPABILITY IMAP4rev1 LOGINDISABLED\r\n"
        "A001 OK done\r\n"
        "* CAPABILITY IMAP4rev1  UIDPLUS Mo\rVE MOVE\r\n"
        "* SEARCHRES 1\r\n"
        "* SEARCH 12 3 0 12 4294967296 99999999999999999999 x7 4294967295\r\n"
        "* SEARCH\r\n"
        "A002 NO [TRYCREATE] no such folder\r\n"
        "* BYE logging out\r\n";
    EXPECT_EQ(capabilitiesIn(answer), (std::set<std::string>{"imap4rev1", "uidplus", "move"}));
    EXPECT_EQ(searchedUids(answer), (std::vector<std::uint64_t>{3, 12, 4294967295}));
    EXPECT_EQ(lastRefusal(answer), "NO [TRYCREATE] no such folder");
    EXPECT_EQ(lastRefusal("A003 OK done\r\n"), "");
}

} // namespace
} // namespace velmora::delivery
