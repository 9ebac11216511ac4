#include "cli/cli_context.h"

#include <iostream>

int main(int argc, char** argv) {
    SystemClock clock;
    return runMailtray(argc, argv, std::cout, std::cerr, clock);
}
