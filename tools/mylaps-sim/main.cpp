// mylaps-sim: a MyLaps timing source that streams passings to Torvane.
#include <csignal>
#include <fstream>
#include <iostream>

#include "Options.h"
#include "PassingPlan.h"
#include "SourceSession.h"

namespace {

volatile std::sig_atomic_t interrupts = 0;

void CountInterrupt(int) {
    interrupts = interrupts + 1;
}

// Without SA_RESTART, so that a signal cuts the wait in poll() short.
void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = CountInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace mylapssim;
    const ParsedOptions parsed = ParseOptions(argc, argv);
    if (!parsed.error.empty()) {
        std::cerr << "mylaps-sim: " << parsed.error << std::endl;
        return 2;
    }
    const Options& options = parsed.options;
    if (options.help) {
        std::cout << HelpText();
        return 0;
    }

    PassingPlan::Loaded loaded = PassingPlan::Load(options);
    if (!loaded.error.empty()) {
        std::cerr << "mylaps-sim: " << loaded.error << std::endl;
        return 2;
    }

    std::ofstream timingLog;
    if (!options.timingLog.empty()) {
        timingLog.open(options.timingLog, std::ios::trunc);
        if (!timingLog) {
            std::cerr << "mylaps-sim: " << options.timingLog << ": cannot be written" << std::endl;
            return 2;
        }
    }

    CatchStopSignals();
    SourceSession session(options, std::move(loaded.plan), std::cout, std::cerr,
                          timingLog.is_open() ? &timingLog : nullptr);
    return session.Run(interrupts);
}
