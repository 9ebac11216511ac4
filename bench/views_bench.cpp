// refreshViews and applyFilters over a million contacts: the core work alone
// and with the five list models reset around it, as the main window does.
#include "views/contact_list_model.h"
#include "views/contact_views.h"

#include <QApplication>
#include <QTableView>
#include <array>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

constexpr int kContacts = 1'000'000;

velmora::store::Session& bigSession() {
    static velmora::store::Session* session = [] {
        auto* s = new velmora::store::Session;
        s->resetToNew();
        for (int g = 2; g <= 5; ++g) {
            s->addCampaignGroup(-1, "Group " + std::to_string(g), "");
        }
        s->reserveContacts(kContacts);
        const std::int32_t statuses[] = {0, 1, 2, -1};
        for (int i = 0; i < kContacts; ++i) {
            velmora::store::NewContact c;
            c.email =
                "person" + std::to_string(i) + "@company" + std::to_string(i % 5000) + ".example";
            c.name = "First" + std::to_string(i) + " Lastname";
            c.company = i % 97 == 0 ? "Acme Holdings " + std::to_string(i)
                                    : "Company " + std::to_string(i % 5000);
            if (i % 10 == 0) {
                c.notes = "Called on Monday\r\nsend the catalogue";
            }
            c.groupIndex = 1 + i % 5;
            c.status = statuses[i % 4];
            s->createContact(c, "12/07/2026");
        }
        for (int i = 1; i <= kContacts; i += 50) {
            s->deleteContact(i);
        }
        return s;
    }();
    return *session;
}

struct Models {
    velmora::views::ContactViews views;
    std::array<std::unique_ptr<velmora::views::ContactListModel>, velmora::views::kTabCount> models;
    std::array<std::unique_ptr<QTableView>, velmora::views::kTabCount> tables;
    explicit Models(bool withViews) {
        for (int tab = 0; tab < velmora::views::kTabCount; ++tab) {
            models[tab] = std::make_unique<velmora::views::ContactListModel>(
                bigSession(), views, static_cast<velmora::views::ViewTab>(tab), nullptr);
            if (withViews) {
                tables[tab] = std::make_unique<QTableView>();
                tables[tab]->setModel(models[tab].get());
                tables[tab]->resize(595, 500);
            }
        }
    }
    void refresh() {
        for (auto& m : models) {
            m->beginRebuild();
        }
        views.refresh(bigSession());
        for (auto& m : models) {
            m->endRebuild();
        }
    }
    void filter(std::string_view search, const std::vector<std::int32_t>& checked) {
        velmora::views::ContactListModel& all =
            *models[tabIndex(velmora::views::ViewTab::AllEntries)];
        all.beginRebuild();
        views.applyFilters(bigSession(), search, checked);
        all.endRebuild();
    }
};

void BM_RefreshViewsCore(benchmark::State& state) {
    velmora::views::ContactViews views;
    for (auto _ : state) {
        views.refresh(bigSession());
        benchmark::DoNotOptimize(views.list(velmora::views::ViewTab::AllEntries).rowSlots.data());
    }
    state.counters["rows"] =
        static_cast<double>(views.list(velmora::views::ViewTab::AllEntries).rowSlots.size());
}
BENCHMARK(BM_RefreshViewsCore)->Unit(benchmark::kMillisecond);

void BM_RefreshViewsWithModels(benchmark::State& state) {
    Models m(state.range(0) != 0);
    for (auto _ : state) {
        m.refresh();
    }
}
BENCHMARK(BM_RefreshViewsWithModels)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("tableViews")
    ->Unit(benchmark::kMillisecond);

void BM_ApplyFiltersCore(benchmark::State& state) {
    velmora::views::ContactViews views;
    views.refresh(bigSession());
    const std::string search = state.range(0) == 0 ? "" : "ACME";
    const std::vector<std::int32_t> checked =
        state.range(1) == 0 ? std::vector<std::int32_t>{} : std::vector<std::int32_t>{2002, 1002};
    for (auto _ : state) {
        views.applyFilters(bigSession(), search, checked);
        benchmark::DoNotOptimize(views.list(velmora::views::ViewTab::AllEntries).rowSlots.data());
    }
    state.counters["rows"] =
        static_cast<double>(views.list(velmora::views::ViewTab::AllEntries).rowSlots.size());
}
BENCHMARK(BM_ApplyFiltersCore)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->ArgNames({"search", "checks"})
    ->Unit(benchmark::kMillisecond);

void BM_ApplyFiltersWithModel(benchmark::State& state) {
    Models m(true);
    m.refresh();
    for (auto _ : state) {
        m.filter("acme", {});
    }
}
BENCHMARK(BM_ApplyFiltersWithModel)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bigSession();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
