// ostrak-sim: a race-management host that answers Torvane's host link like Ostrak Pro.
#include <csignal>
#include <fstream>
#include <iostream>

#include "HostServer.h"
#include "Options.h"
#include "Runners.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

// Without SA_RESTART, so that a signal cuts the wait in poll() short.
void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ostraksim;
    const ParsedOptions parsed = ParseOptions(argc, argv);
    if (!parsed.error.empty()) {
        std::cerr << "ostrak-sim: " << parsed.error << std::endl;
        return 2;
    }
    const Options& options = parsed.options;
    if (options.help) {
        std::cout << HelpText();
        return 0;
    }

    RunnerList runners;
    if (!options.runnersFile.empty()) {
        runners = LoadRunners(options.runnersFile);
        if (!runners.error.empty()) {
            std::cerr << "ostrak-sim: " << runners.error << std::endl;
            return 2;
        }
    }

    std::ofstream log;
    if (!options.logFile.empty()) {
        log.open(options.logFile, std::ios::trunc);
        if (!log) {
            std::cerr << "ostrak-sim: " << options.logFile << ": cannot be written" << std::endl;
            return 2;
        }
    }

    CatchStopSignals();
    HostServer server(options, std::move(runners), std::cout, std::cerr,
                      log.is_open() ? &log : nullptr);
    if (std::string problem = server.Open(); !problem.empty()) {
        std::cerr << "ostrak-sim: cannot listen on " << options.bind << ":" << options.port << ": "
                  << problem << std::endl;
        return 1;
    }
    std::cout << "listening on port " << server.Port() << std::endl;
    server.Run(stopRequested);
    return 0;
}
