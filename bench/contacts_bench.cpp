// Import of 200,000 addresses and Remove Duplicates over 200,000 contacts of
// which a third repeat an earlier address, each against `sort -uf` over the
// same addresses in the same run.
#include "contacts/contact_adding.h"
#include "contacts/duplicates.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kAddresses = 200'000;

// Two thirds distinct addresses, one third repeats of earlier ones in other
// letter case, shuffled.
const std::vector<std::string>& addresses() {
    static const std::vector<std::string> list = [] {
        std::mt19937 random(42);
        std::vector<std::string> out;
        const int distinct = kAddresses * 2 / 3;
        for (int i = 0; i < distinct; ++i) {
            out.push_back("customer." + std::to_string(i) + "@shop" + std::to_string(i % 97) +
                          ".example.com");
        }
        while (static_cast<int>(out.size()) < kAddresses) {
            std::string again = out[random() % distinct];
            again[0] = 'C';
            out.push_back(again);
        }
        std::shuffle(out.begin(), out.end(), random);
        return out;
    }();
    return list;
}

const std::string& addressFile() {
    static const std::string path = [] {
        const auto file = std::filesystem::temp_directory_path() / "velmora-bench-addresses.txt";
        std::ofstream out(file, std::ios::binary);
        for (const std::string& a : addresses()) {
            out << a << '\n';
        }
        return file.string();
    }();
    return path;
}

void BM_SortUniqueIgnoringCase(benchmark::State& state) {
    const std::string command = "LC_ALL=C sort -uf " + addressFile() + " > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("sort failed");
        }
    }
}

void BM_ImportAddresses(benchmark::State& state) {
    std::ifstream in(addressFile(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (auto _ : state) {
        velmora::store::Session session;
        session.resetToNew();
        const velmora::contacts::AddListResult r = velmora::contacts::addEmailList(
            session, velmora::contacts::importedAddressText(bytes), 1, 0, "12/07/2026");
        benchmark::DoNotOptimize(r.added);
    }
}

void BM_RemoveDuplicates(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        velmora::store::Session session;
        session.reserveContacts(kAddresses);
        for (const std::string& a : addresses()) {
            velmora::store::Contact c;
            c.email = a;
            c.id = session.contactCount() + 1;
            session.appendContact(std::move(c));
        }
        state.ResumeTiming();
        const velmora::contacts::DuplicatesResult r = velmora::contacts::removeDuplicates(session);
        benchmark::DoNotOptimize(r.removed);
    }
}

} // namespace

BENCHMARK(BM_SortUniqueIgnoringCase)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ImportAddresses)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_RemoveDuplicates)->Unit(benchmark::kMillisecond)->MinTime(1.0);

BENCHMARK_MAIN();
