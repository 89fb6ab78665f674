// scrivlet-scenario FILE...: plays scenario files against the simulated desktop and prints
// their transcripts. Exits non-zero when an expectation failed.
#include "tools/scenario/ScenarioRunner.h"

#include <iostream>

using namespace scrivlet;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: scrivlet-scenario FILE.scenario...\n";
        return 2;
    }
    ScenarioRunner runner(std::cout);
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        failures += runner.runFile(argv[i]);
    }
    return failures == 0 ? 0 : 1;
}
