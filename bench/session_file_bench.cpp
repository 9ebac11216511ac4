// Load and save of a 1,000,000-contact session against reading and writing
// the same bytes without parsing. Run through bench/run_session_file_bench.sh,
// which also measures peak memory.
#include "bench_data.h"
#include "store/atomic_file.h"
#include "store/session_file.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::int32_t kContacts = 1'000'000;

const std::string& benchFile() {
    static const std::string path = [] {
        const auto dir = std::filesystem::temp_directory_path() / "velmora-bench";
        std::filesystem::create_directories(dir);
        const std::string file = (dir / "million.qmz").string();
        std::string error;
        if (!writeSessionFile(makeBenchSession(kContacts), file, error)) {
            std::fprintf(stderr, "cannot write %s: %s\n", file.c_str(), error.c_str());
            std::exit(1);
        }
        return file;
    }();
    return path;
}

std::string rawRead(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::string bytes(std::filesystem::file_size(path), '\0');
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    bytes.resize(got);
    return bytes;
}

void BM_RawRead(benchmark::State& state) {
    const std::string& path = benchFile();
    for (auto _ : state) {
        benchmark::DoNotOptimize(rawRead(path));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}

void BM_LoadSession(benchmark::State& state) {
    const std::string& path = benchFile();
    for (auto _ : state) {
        velmora::store::SessionReadResult read = velmora::store::readSessionFile(path);
        if (read.status != velmora::store::SessionReadStatus::Loaded) {
            state.SkipWithError("load failed");
        }
        benchmark::DoNotOptimize(read.session.contactCount());
    }
}

// Raw write: the same bytes through the same temporary-file, sync and rename
// steps, so the ratio shows the cost of encoding alone.
void BM_RawWrite(benchmark::State& state) {
    const std::string bytes = rawRead(benchFile());
    const std::string out = benchFile() + ".raw";
    for (auto _ : state) {
        std::string error;
        if (!velmora::store::writeFileAtomically(out, bytes, error)) {
            state.SkipWithError(error.c_str());
        }
    }
    std::filesystem::remove(out);
}

void BM_SaveSession(benchmark::State& state) {
    velmora::store::SessionReadResult read = velmora::store::readSessionFile(benchFile());
    const std::string out = benchFile() + ".saved";
    for (auto _ : state) {
        std::string error;
        if (!writeSessionFile(read.session, out, error)) {
            state.SkipWithError(error.c_str());
        }
    }
    std::filesystem::remove(out);
}

} // namespace

BENCHMARK(BM_RawRead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadSession)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RawWrite)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SaveSession)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
