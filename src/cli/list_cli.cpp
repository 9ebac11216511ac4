#include "cli/cli_context.h"
#include "cli/json_stream.h"
#include "views/contact_views.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace velmora::cli {

namespace {

// Keys in sorted order, as nlohmann prints an object.
void writeRow(JsonStreamWriter& out, const views::DisplayedRow& row) {
    out.beginObject();
    out.key("email");
    out.value(row.email);
    out.key("icon");
    if (row.icon == views::kNoIcon) {
        out.null();
    } else {
        out.value(static_cast<std::int64_t>(row.icon));
    }
    out.key("lastContacted");
    out.value(row.lastContacted);
    out.key("name");
    out.value(row.name);
    out.key("notes");
    out.value(row.notes);
    out.key("slot");
    out.value(static_cast<std::int64_t>(row.slot));
    out.endObject();
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
    list->add_option("--tab", o->tab, "The list to print (default: all)")
        ->check(CLI::IsMember(tabNameList()));
    list->add_option("--search", o->search,
                     "Apply Filters with this search text (email, name, company)");
    list->add_option("--check", o->checks,
                     "Apply Filters with this filter tree item checked (its number); repeatable");
    list->callback([&context, o] {
        const bool filtering = o->search.has_value() || !o->checks.empty();
        const views::ViewTab tab = tabNames().at(o->tab);
        if (filtering && tab != views::ViewTab::AllEntries) {
            context.err << "--search and --check filter the All Entries list; use --tab all or "
                           "leave --tab out.\n";
            context.exitCode = kExitUsage;
            return;
        }
        store::Session session;
        if (!openSessionForCommand(context, session, o->path)) {
            return;
        }
        views::ContactViews views;
        views.refresh(session);
        for (const std::int32_t number : o->checks) {
            const auto& tree = views.tree();
            if (std::none_of(tree.begin(), tree.end(), [number](const views::FilterTreeItem& item) {
                    return item.number == number;
                })) {
                context.fail("The filter tree has no item number " + std::to_string(number) + ".");
                return;
            }
        }
        if (filtering) {
            views.applyFilters(session, o->search.value_or(""), o->checks);
        }
        // Rows are written as they are made: a list of a million contacts
        // is never held as one document.
        const views::ContactList& shown = views.list(tab);
        JsonStreamWriter out(context.out);
        out.beginObject();
        out.key("caption");
        out.value(views.caption(tab));
        out.key("rows");
        out.beginArray();
        for (std::size_t row = 0; row < shown.rowSlots.size(); ++row) {
            writeRow(out, displayedRow(session, shown, row));
        }
        out.endArray();
        out.key("statusLine");
        out.value(views::statusLineText(session));
        out.key("tree");
        out.beginArray();
        for (const views::FilterTreeItem& item : views.tree()) {
            out.beginObject();
            out.key("caption");
            out.value(item.caption);
            out.key("level");
            out.value(static_cast<std::int64_t>(item.level));
            out.key("number");
            out.value(static_cast<std::int64_t>(item.number));
            out.endObject();
        }
        out.endArray();
        out.endObject();
        out.finish();
    });
}

} // namespace velmora::cli
