#include "cli/cli_context.h"
#include "views/contact_views.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>

namespace {

const std::map<std::string, ViewTab>& tabNames() {
    static const std::map<std::string, ViewTab> names{
        {"subscribers", ViewTab::Subscribers}, {"prospects", ViewTab::Prospects},
        {"customers", ViewTab::Customers},     {"do-not-contact", ViewTab::DoNotContact},
        {"all", ViewTab::AllEntries},
    };
    return names;
}

nlohmann::json rowToJson(const DisplayedRow& row) {
    return {
        {"slot", row.slot},
        {"icon", row.icon == kNoIcon ? nlohmann::json(nullptr) : nlohmann::json(row.icon)},
        {"email", row.email},
        {"name", row.name},
        {"lastContacted", row.lastContacted},
        {"notes", row.notes},
    };
}

} // namespace

struct ListOptions {
    std::string path;
    std::string tab = "all";
    std::optional<std::string> search;
    std::vector<std::int32_t> checks;
};

// The main window's views without the window: what a refresh or Apply
// Filters would list, as JSON.
void registerListCommands(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<ListOptions>();
    auto* list = app.add_subcommand(
        "list", "Print the filter tree, one contact list and the status line as JSON");
    list->add_option("SESSION", o->path, "The session file")->required();
    std::vector<std::string> names;
    for (const auto& [name, tab] : tabNames()) {
        names.push_back(name);
    }
    list->add_option("--tab", o->tab, "The list to print (default: all)")
        ->check(CLI::IsMember(names));
    list->add_option("--search", o->search,
                     "Apply Filters with this search text (email, name, company)");
    list->add_option("--check", o->checks,
                     "Apply Filters with this filter tree item checked (its number); repeatable");
    list->callback([&context, o] {
        const bool filtering = o->search.has_value() || !o->checks.empty();
        const ViewTab tab = tabNames().at(o->tab);
        if (filtering && tab != ViewTab::AllEntries) {
            context.err << "--search and --check filter the All Entries list; use --tab all or "
                           "leave --tab out.\n";
            context.exitCode = kExitUsage;
            return;
        }
        Session session;
        if (!openSessionForCommand(context, session, o->path)) {
            return;
        }
        ContactViews views;
        views.refresh(session);
        for (const std::int32_t number : o->checks) {
            const auto& tree = views.tree();
            if (std::none_of(tree.begin(), tree.end(), [number](const FilterTreeItem& item) {
                    return item.number == number;
                })) {
                context.fail("The filter tree has no item number " + std::to_string(number) + ".");
                return;
            }
        }
        if (filtering) {
            views.applyFilters(session, o->search.value_or(""), o->checks);
        }
        nlohmann::json tree = nlohmann::json::array();
        for (const FilterTreeItem& item : views.tree()) {
            tree.push_back(
                {{"level", item.level}, {"caption", item.caption}, {"number", item.number}});
        }
        const ContactList& shown = views.list(tab);
        nlohmann::json rows = nlohmann::json::array();
        for (std::size_t row = 0; row < shown.rowSlots.size(); ++row) {
            rows.push_back(rowToJson(displayedRow(session, shown, row)));
        }
        context.printJson({{"tree", std::move(tree)},
                           {"caption", std::string(views.caption(tab))},
                           {"rows", std::move(rows)},
                           {"statusLine", statusLineText(session)}});
    });
}
