// Writes the benchmarks' session of COUNT contacts (default 1,000,000).
#include "bench_data.h"
#include "store/session_file.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_bench_session OUT.qmz [COUNT]\n");
        return 2;
    }
    const auto count = static_cast<std::int32_t>(argc == 3 ? std::atol(argv[2]) : 1'000'000);
    std::string error;
    if (!writeSessionFile(makeBenchSession(count), argv[1], error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    return 0;
}
