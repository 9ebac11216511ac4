#include "cli/cli_context.h"
#include "cli/session_temporaries.h"
#include "contacts/contact_export.h"
#include "contacts/contact_import.h"
#include "store/text.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <optional>

namespace velmora::cli {

namespace {

struct ImportCliOptions {
    std::string session;
    std::string file;
    std::string format = "auto";
    std::optional<std::string> delimiter;
    std::optional<std::string> encoding;
    std::vector<std::string> maps;
    std::optional<std::string> group;
    std::optional<std::string> status;
    bool update = false;
    bool dryRun = false;
    bool json = false;
    bool noNewGroups = false;
    bool firstEmail = false;
    bool noFormulaGuard = false;
};

struct ExportCliOptions {
    std::string session;
    std::string out;
    std::optional<std::string> tab;
    std::optional<std::int32_t> group;
    std::optional<std::string> status;
    bool mailtray = false;
    std::optional<std::string> search;
    std::vector<std::int32_t> checks;
    bool bom = false;
    bool noFormulaGuard = false;
};

// A group slot number, else a group name (exact, then in any letter case).
std::optional<std::int32_t> groupFromText(const store::Session& session, const std::string& text) {
    std::int32_t number = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec == std::errc() && end == text.data() + text.size()) {
        if (session.hasGroup(number)) {
            return number;
        }
        return std::nullopt;
    }
    for (std::int32_t g = 1; g <= session.groupCount(); ++g) {
        if (session.group(g).name == text) {
            return g;
        }
    }
    for (std::int32_t g = 1; g <= session.groupCount(); ++g) {
        if (store::equalIgnoringCase(session.group(g).name, text)) {
            return g;
        }
    }
    return std::nullopt;
}

nlohmann::json reportJson(const contacts::ImportReport& report) {
    nlohmann::json rows = nlohmann::json::array();
    for (const contacts::ImportRowNote& row : report.rows) {
        const char* outcome = "refused";
        if (row.outcome == contacts::RowOutcome::Skipped) {
            outcome = "skipped";
        } else if (row.outcome == contacts::RowOutcome::Noted) {
            outcome = "noted";
        }
        rows.push_back({{"line", row.line},
                        {"lastLine", row.lastLine},
                        {"email", row.email},
                        {"outcome", outcome},
                        {"reason", row.reason}});
    }
    nlohmann::json json{{"format", report.format},
                        {"encoding", report.encoding},
                        {"added", report.added},
                        {"updated", report.updated},
                        {"skipped", report.skipped},
                        {"refused", report.refused},
                        {"ignoredColumns", report.ignoredColumns},
                        {"newGroups", report.newGroups},
                        {"notes", report.notes},
                        {"rows", std::move(rows)},
                        {"dryRun", report.dryRun}};
    json["layout"] =
        report.layout.empty() ? nlohmann::json(nullptr) : nlohmann::json(report.layout);
    json["delimiter"] = report.delimiter == 0 ? nlohmann::json(nullptr)
                                              : nlohmann::json(std::string(1, report.delimiter));
    return json;
}

// The status a --status caption names; on a bad one, says so and sets the
// usage exit code.
std::optional<std::int32_t> statusOption(CliContext& context, const std::string& caption) {
    const std::optional<std::int32_t> status = contacts::statusFromCaption(caption);
    if (!status) {
        context.err << "--status takes subscribers, prospects, customers or do-not-contact.\n";
        context.exitCode = kExitUsage;
    }
    return status;
}

void runImport(CliContext& context, const ImportCliOptions& o) {
    contacts::ImportOptions options;
    options.format = o.format == "csv"     ? contacts::ImportFormat::Csv
                     : o.format == "vcard" ? contacts::ImportFormat::VCard
                                           : contacts::ImportFormat::Auto;
    if (o.delimiter) {
        options.delimiter = contacts::delimiterFromText(*o.delimiter);
        if (!options.delimiter) {
            context.err
                << "--delimiter takes one character, \"comma\", \"semicolon\" or \"tab\".\n";
            context.exitCode = kExitUsage;
            return;
        }
    }
    if (o.encoding) {
        options.encoding = contacts::encodingFromName(*o.encoding);
        if (!options.encoding) {
            context.err << "--encoding takes utf-8, utf-16le, utf-16be or windows-1252.\n";
            context.exitCode = kExitUsage;
            return;
        }
    }
    if (o.status) {
        const std::optional<std::int32_t> status = statusOption(context, *o.status);
        if (!status) {
            return;
        }
        options.settings.status = *status;
    }
    options.mapOverrides = o.maps;
    options.settings.update = o.update;
    options.settings.dryRun = o.dryRun;
    options.settings.noNewGroups = o.noNewGroups;
    options.settings.firstEmailOnly = o.firstEmail;
    options.formulaGuard = !o.noFormulaGuard;

    store::Session session;
    if (!openSessionForCommand(context, session, o.session,
                               o.dryRun ? SessionUse::Read : SessionUse::Change)) {
        return;
    }
    if (o.group) {
        const std::optional<std::int32_t> group = groupFromText(session, *o.group);
        if (!group) {
            context.fail("The session has no campaign group " + *o.group + ".");
            return;
        }
        options.settings.groupIndex = *group;
    }
    const contacts::ImportResult result =
        importContactsFile(session, o.file, options, formatContactDate(context.clock.now()));
    if (!result.ok) {
        context.fail(result.error);
        return;
    }
    const contacts::ImportReport& report = result.report;
    const bool changed = report.added > 0 || report.updated > 0 || !report.newGroups.empty();
    if (!o.dryRun && changed) {
        const SaveInterruptGuard guard(o.session);
        if (!saveSessionForCommand(context, session, o.session)) {
            return;
        }
    }
    if (o.json) {
        context.printJson(reportJson(result.report));
    } else {
        context.out << importReportText(result.report);
    }
}

void runExport(CliContext& context, const ExportCliOptions& o) {
    const int chosen = (o.tab ? 1 : 0) + (o.group ? 1 : 0) + (o.status ? 1 : 0) +
                       (o.mailtray ? 1 : 0) + ((o.search || !o.checks.empty()) ? 1 : 0);
    if (chosen > 1) {
        context.err << "Choose one list: --tab, --group, --status, --mailtray or "
                       "--search/--check.\n";
        context.exitCode = kExitUsage;
        return;
    }
    contacts::ExportChoice choice;
    if (o.tab) {
        choice.tab = tabNames().at(*o.tab);
    } else if (o.status) {
        const std::optional<std::int32_t> status = statusOption(context, *o.status);
        if (!status) {
            return;
        }
        for (int t = 0; t < views::kTabCount; ++t) {
            if (tabStatus(static_cast<views::ViewTab>(t)) == *status &&
                static_cast<views::ViewTab>(t) != views::ViewTab::AllEntries) {
                choice.tab = static_cast<views::ViewTab>(t);
            }
        }
    } else if (o.group) {
        choice.source = contacts::ExportSource::Group;
        choice.group = *o.group;
    } else if (o.mailtray) {
        choice.source = contacts::ExportSource::Mailtray;
    } else if (o.search || !o.checks.empty()) {
        choice.source = contacts::ExportSource::Filtered;
        choice.search = o.search.value_or("");
        choice.checks = o.checks;
    }
    store::Session session;
    if (!openSessionForCommand(context, session, o.session)) {
        return;
    }
    if (choice.source == contacts::ExportSource::Group && !session.hasGroup(choice.group)) {
        context.fail("The session has no campaign group " + std::to_string(choice.group) + ".");
        return;
    }
    if (choice.source == contacts::ExportSource::Filtered) {
        const std::vector<views::FilterTreeItem> tree = views::buildFilterTree(session);
        for (const std::int32_t number : choice.checks) {
            if (std::none_of(tree.begin(), tree.end(), [number](const views::FilterTreeItem& item) {
                    return item.number == number;
                })) {
                context.fail("The filter tree has no item number " + std::to_string(number) + ".");
                return;
            }
        }
    }
    const contacts::ExportResult result =
        exportContactsCsv(session, choice, o.out, o.bom, !o.noFormulaGuard);
    if (!result.ok) {
        context.fail(result.error);
        return;
    }
    context.out << contacts::exportDoneText(result.count, o.out) << '\n';
}

} // namespace

void registerContactFileCommands(CLI::App& app, CliContext& context) {
    auto in = std::make_shared<ImportCliOptions>();
    auto* importCommand = app.add_subcommand(
        "import-contacts", "Add the contacts of a CSV or vCard file and print a report");
    importCommand->add_option("SESSION", in->session, "The session file")->required();
    importCommand->add_option("FILE", in->file, "The CSV or vCard file")->required();
    importCommand->add_option("--format", in->format, "csv or vcard (default: by the file)")
        ->check(CLI::IsMember({"auto", "csv", "vcard"}));
    importCommand->add_option("--delimiter", in->delimiter,
                              "CSV field delimiter: a character, comma, semicolon or tab (default: "
                              "detected)");
    importCommand->add_option("--encoding", in->encoding,
                              "utf-8, utf-16le, utf-16be or windows-1252 (default: detected)");
    importCommand->add_option(
        "--map", in->maps,
        "COLUMN=FIELD: a heading or column number and a field (email, name, "
        "first-name, last-name, address, telephone, company, notes, group, status, "
        "tag, ignore); repeatable");
    importCommand->add_option(
        "--group", in->group,
        "Campaign group (slot number or name) of new contacts whose row names none");
    importCommand->add_option("--status", in->status,
                              "Status of new contacts whose row names none (default subscribers)");
    importCommand->add_flag("--update", in->update,
                            "Change the fields of a known contact instead of skipping the row");
    importCommand->add_flag("--dry-run", in->dryRun, "Report what would happen; change no file");
    importCommand->add_flag("--json", in->json, "Print the report as JSON");
    importCommand->add_flag("--no-new-groups", in->noNewGroups,
                            "Refuse rows naming a campaign group the session lacks");
    importCommand->add_flag("--first-email", in->firstEmail,
                            "Only the first valid address of each card or row");
    importCommand->add_flag("--no-formula-guard", in->noFormulaGuard,
                            "Keep a leading ' before =, +, -, @ (an export's formula guard)");
    addLockWaitOption(*importCommand, context);
    importCommand->callback([&context, in] { runImport(context, *in); });

    auto out = std::make_shared<ExportCliOptions>();
    auto* exportCommand = app.add_subcommand("export-contacts",
                                             "Write a contact list with all fields as CSV (UTF-8)");
    exportCommand->add_option("SESSION", out->session, "The session file")->required();
    exportCommand->add_option("OUT", out->out, "The CSV file to write")->required();
    exportCommand->add_option("--tab", out->tab, "A tab's list (default: all)")
        ->check(CLI::IsMember(tabNameList()));
    exportCommand->add_option("--group", out->group, "The contacts of a campaign group (slot)");
    exportCommand->add_option("--status", out->status, "The contacts of a status");
    exportCommand->add_flag("--mailtray", out->mailtray, "The Mailtray's entries");
    exportCommand->add_option("--search", out->search,
                              "All Entries after Apply Filters with this search text");
    exportCommand->add_option("--check", out->checks,
                              "All Entries after Apply Filters with this filter tree item "
                              "checked (its number); repeatable");
    exportCommand->add_flag("--bom", out->bom, "Start with a byte order mark for spreadsheets");
    exportCommand->add_flag("--no-formula-guard", out->noFormulaGuard,
                            "Write cells starting with =, +, -, @, a tab or CR as they are "
                            "(default: a ' before them, so spreadsheets run no formula)");
    exportCommand->callback([&context, out] { runExport(context, *out); });
}

} // namespace velmora::cli
