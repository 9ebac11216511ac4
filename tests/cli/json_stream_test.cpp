#include "cli/json_stream.h"
#include "cli/run_json.h"
#include "cli/session_json.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sstream>

namespace velmora::cli {

using nlohmann::json;

namespace {

std::string nlohmannText(const json& value) {
    return value.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string streamedText(const json& value) {
    std::ostringstream out;
    JsonStreamWriter writer(out);
    writer.value(value);
    writer.finish();
    return out.str();
}

} // namespace

// The streamed layout must be byte for byte what scripts got before.
TEST(JsonStreamWriter, WritesWhatNlohmannDumps) {
    const std::string invalidUtf8[] = {"\xff", "ab\xc3", "\xed\xa0\x80x", "\xc0\xaf", "Zo\xeb"};
    std::vector<json> cases = {
        json::object(),
        json::array(),
        json{{"a", json::array()}, {"b", json::object()}, {"c", nullptr}},
        json{{"n", -2147483648LL}, {"m", 4294967295LL}, {"t", true}, {"f", false}},
        json::array({1, "two", json::array({json::object(), 3}), json{{"k", "v"}}}),
        json{{"esc", "quote\" back\\ \b\f\n\r\t \x01\x1f\x7f end"}},
        json{{"utf8", "Zoë Ångström € \xf0\x9f\x98\x80"}},
        json{{"tab\tkey", "x"}, {"Émile", 1}},
        json("a top-level string"),
        json(42),
    };
    for (const std::string& bad : invalidUtf8) {
        cases.push_back(json{{"bad", bad}, {"mixed", "ok \"" + bad + "\" ok"}});
    }
    for (const json& value : cases) {
        EXPECT_EQ(streamedText(value), nlohmannText(value)) << nlohmannText(value);
    }
}

TEST(JsonStreamWriter, SessionStreamMatchesTheWholeDocument) {
    for (const char* file : {"rich_session.qmz", "new_session.qmz", "legacy_cp1252.qmz"}) {
        store::SessionReadResult read = store::readSessionFile(testing_support::dataPath(file));
        ASSERT_EQ(read.status, store::SessionReadStatus::Loaded) << file;
        store::Session& session = read.session;
        // Texts a file may hold: controls, quotes and a Mailtray entry.
        const std::int32_t slot = session.createContact(
            store::NewContact{{"odd\"@example.org", "Tab\tName\x01", "Line\r\nTwo", "\\", "", ""}, 1, 0},
            "12/07/2026");
        session.addMailtrayEntry(session.contact(slot));
        for (const bool withPassword : {false, true}) {
            std::ostringstream out;
            JsonStreamWriter writer(out);
            writeSessionJson(writer, session, withPassword);
            writer.finish();
            EXPECT_EQ(out.str(), nlohmannText(sessionToJson(session, withPassword))) << file;
        }
    }
}

TEST(JsonStreamWriter, RunStreamMatchesTheWholeDocument) {
    delivery::RunRecord run;
    run.id = "20261207-093000-1";
    run.path = "/tmp/s.qmz.runs/20261207-093000-1.journal";
    run.started = "2026-12-07T09:30:00+01:00";
    run.draftPath = "draft.qmd";
    run.subject = "Autumn \"catalogue\"\tout";
    run.endedAt = "2026-12-07T09:31:00+01:00";
    delivery::JournalRecipient delivered{1, 4, "ann@example.org", {}, ""};
    delivered.attempts.push_back({delivery::DeliveryOutcome::Deferred, "451", "try later",
                                  "2026-12-07T09:30:01+01:00", false, "", 0});
    delivered.attempts.push_back({delivery::DeliveryOutcome::Delivered, "250", "ok",
                                  "2026-12-07T09:30:02+01:00", true, "12/07/2026", 1});
    const delivery::JournalRecipient typed{2, -1, "Zo\xeb@example.org", {}, ""};
    // No recipients, one each way, and a retry run (its key sorts after "recipients").
    for (const std::size_t recipients : {0u, 1u, 2u}) {
        for (const bool retry : {false, true}) {
            run.recipients.clear();
            if (recipients > 0) {
                run.recipients.push_back(delivered);
            }
            if (recipients > 1) {
                run.recipients.push_back(typed);
            }
            run.retryOf = retry ? "20261206-080000-1" : "";
            run.finished = recipients == 1;
            std::ostringstream out;
            JsonStreamWriter writer(out);
            writeRunDetailJson(writer, run);
            writer.finish();
            EXPECT_EQ(out.str(), nlohmannText(runDetailToJson(run))) << recipients << retry;
            EXPECT_EQ(json::parse(out.str())["recipients"].size(), recipients);
        }
    }
}

} // namespace velmora::cli
