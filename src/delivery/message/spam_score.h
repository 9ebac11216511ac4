#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

// One rule of the spam filter that the message hit.
struct SpamRule {
    double points = 0;
    std::string name;
    std::string description;
    friend bool operator==(const SpamRule&, const SpamRule&) = default;
};

// What the spam filter made of a message.
struct SpamScore {
    bool installed = false; // the filter program was found
    bool scored = false;    // it ran and its report could be read
    double points = 0;
    double threshold = 0;
    std::vector<SpamRule> rules;
    std::string error; // why there is no score although the program was found
};

// Scores one message as it goes out (headers and body, CR LF lines, not
// dot-stuffed). Kept as a function so that the send commands, which do not
// wait for a score, and the tests can choose.
using SpamFilter = std::function<SpamScore(const std::string& message)>;

inline constexpr const char* kSpamFilterProgram = "spamassassin";
inline constexpr const char* kSpamFilterMissingText = "SpamAssassin is not installed";

// Runs "spamassassin -L -t" (local tests only: no network look-ups, so the
// score is the same offline) on `message`, found on PATH.
SpamScore spamAssassinScore(const std::string& message);

// Reads the score, the threshold and the rules from the report the filter
// appends in test mode ("Content analysis details: (3.3 points, 5.0
// required)" and the table under it); `scored` stays false when the output
// holds no report.
SpamScore readSpamReport(std::string_view output);

// "Spam score 3.3 of 5.0 (below the threshold)" and one line per rule:
// "  1.7 HTML_IMAGE_ONLY_04 BODY: HTML: images with 0-400 bytes of words".
std::vector<std::string> spamScoreLines(const SpamScore& score);

} // namespace velmora::delivery
