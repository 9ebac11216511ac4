// Loads a session file once and prints the peak resident memory of the
// process against the file's size.
#include "store/session_file.h"

#include <cstdio>
#include <filesystem>
#include <sys/resource.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: session_memory_probe FILE.qmz\n");
        return 2;
    }
    struct rusage before {};
    ::getrusage(RUSAGE_SELF, &before);
    velmora::store::SessionReadResult read = velmora::store::readSessionFile(argv[1]);
    struct rusage after {};
    ::getrusage(RUSAGE_SELF, &after);
    const double fileMiB = static_cast<double>(std::filesystem::file_size(argv[1])) / 1048576.0;
    const double peakMiB = static_cast<double>(after.ru_maxrss) / 1024.0;
    const double baseMiB = static_cast<double>(before.ru_maxrss) / 1024.0;
    std::printf("contacts %d, file %.1f MiB, peak RSS %.1f MiB (%.1f MiB before loading), "
                "peak/file %.2f\n",
                read.session.contactCount(), fileMiB, peakMiB, baseMiB, peakMiB / fileMiB);
    return read.status == velmora::store::SessionReadStatus::Loaded ? 0 : 1;
}
