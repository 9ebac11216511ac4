#include "delivery/message/spam_score.h"

#include "delivery/program_run.h"
#include "store/text.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <optional>

namespace velmora::delivery {

namespace {

// A filter that does not answer in this time is given up on; it is a check,
// not a reason to hang the program.
constexpr auto kFilterTimeLimit = std::chrono::seconds(120);

std::optional<double> numberAt(std::string_view text) {
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    // "0-400" starts a description's next line, not a rule.
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// "-0.0 NO_RECEIVED  Informational: ..." into its three parts.
std::optional<SpamRule> ruleLine(std::string_view line) {
    const std::string_view trimmed = store::trimSpaces(line);
    const std::size_t pointsEnd = trimmed.find(' ');
    if (pointsEnd == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<double> points = numberAt(trimmed.substr(0, pointsEnd));
    if (!points) {
        return std::nullopt;
    }
    std::string_view rest = store::trimSpaces(trimmed.substr(pointsEnd));
    const std::size_t nameEnd = std::min(rest.find(' '), rest.size());
    SpamRule rule{*points, std::string(rest.substr(0, nameEnd)), ""};
    rule.description = std::string(store::trimSpaces(rest.substr(nameEnd)));
    return rule;
}

std::string pointsText(double points) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", points);
    return text;
}

} // namespace

SpamScore readSpamReport(std::string_view output) {
    SpamScore score;
    score.installed = true;
    constexpr std::string_view kDetails = "Content analysis details:";
    // The last one: the message itself comes first and could quote a report.
    const std::size_t at = output.rfind(kDetails);
    if (at == std::string_view::npos) {
        score.error = "its output holds no report";
        return score;
    }
    std::string_view rest = output.substr(at + kDetails.size());
    const std::size_t open = rest.find('(');
    const std::size_t pointsWord = rest.find(" points,");
    const std::size_t required = rest.find(" required)");
    if (open == std::string_view::npos || pointsWord == std::string_view::npos ||
        required == std::string_view::npos || !(open < pointsWord && pointsWord < required)) {
        score.error = "its output holds no report";
        return score;
    }
    const std::optional<double> points = numberAt(rest.substr(open + 1, pointsWord - open - 1));
    const std::size_t thresholdAt = pointsWord + 8;
    const std::optional<double> threshold =
        numberAt(store::trimSpaces(rest.substr(thresholdAt, required - thresholdAt)));
    if (!points || !threshold) {
        score.error = "its output holds no report";
        return score;
    }
    score.points = *points;
    score.threshold = *threshold;
    score.scored = true;
    // The table starts after its "---- ----" rule; a line that starts with
    // blanks and no number continues the description above it.
    const std::size_t ruler = rest.find("\n----");
    if (ruler == std::string_view::npos) {
        return score;
    }
    rest = rest.substr(ruler + 1);
    rest = rest.substr(std::min(rest.find('\n'), rest.size()));
    while (!rest.empty()) {
        rest.remove_prefix(1); // the line break
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, end);
        rest = rest.substr(end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (store::trimSpaces(line).empty()) {
            break;
        }
        if (std::optional<SpamRule> rule = ruleLine(line)) {
            score.rules.push_back(std::move(*rule));
        } else if (line.front() == ' ' && !score.rules.empty()) {
            score.rules.back().description += " " + std::string(store::trimSpaces(line));
        } else {
            break;
        }
    }
    return score;
}

SpamScore spamAssassinScore(const std::string& message) {
    const ProgramRun run = runProgram({kSpamFilterProgram, "-L", "-t"}, message, kFilterTimeLimit);
    if (!run.found) {
        return SpamScore{};
    }
    if (!run.finished) {
        SpamScore score;
        score.installed = true;
        score.error = run.error;
        return score;
    }
    return readSpamReport(run.output);
}

std::vector<std::string> spamScoreLines(const SpamScore& score) {
    if (!score.installed) {
        return {kSpamFilterMissingText};
    }
    if (!score.scored) {
        return {"SpamAssassin could not score the message: " + score.error};
    }
    std::vector<std::string> lines{
        "Spam score " + pointsText(score.points) + " of " + pointsText(score.threshold) +
        (score.points >= score.threshold ? " (at or above the threshold: filters will take it "
                                           "for spam)"
                                         : " (below the threshold)")};
    for (const SpamRule& rule : score.rules) {
        lines.push_back("  " + pointsText(rule.points) + " " + rule.name + " " + rule.description);
    }
    return lines;
}

} // namespace velmora::delivery
