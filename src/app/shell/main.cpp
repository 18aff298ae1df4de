#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/shell/CTorvaneApp.h"
#include "app/shell/CommandLine.h"
#include "app/shell/CtlClient.h"
#include "app/shell/HeadlessApp.h"
#include "app/shell/LanguageSetting.h"
#include "app/shell/LoopWatch.h"
#include "app/shell/RunSettings.h"
#include "app/shell/StandardOutput.h"
#include "base/Logging.h"
#include "base/Texts.h"
#include "ui/QtTranslations.h"

namespace {

bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return (x11 && *x11) || (wayland && *wayland) ||
           (platform && std::strcmp(platform, "offscreen") == 0);
}

// What every front-end's application object gets before the program starts.
void PrepareApplication(QCoreApplication& application, torvane::Language) {
    application.setApplicationName("Torvane");
}

template <typename App>
int Run(App& torvane, QCoreApplication& application) {
    int code = 0;
    if (torvane.InitInstance()) {
        // Only when the benchmark asks for it; it writes its file once the loop is over.
        const auto loopWatch = torvane::LoopWatch::FromEnvironment();
        application.exec();
        code = torvane.ExitInstance();
    } else {
        code = torvane.ExitCodeWithoutStart();
    }
    torvane::FlushStandardOutput();
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    using torvane::CommandLine;
    const CommandLine line = torvane::ReadCommandLine(argc, argv);
    if (line.action == CommandLine::Action::Version) {
        std::printf("Torvane %s\n", torvane::kVersionText);
        return 0;
    }
    // A data folder that cannot be used is told in the language asked for, or in French: the
    // settings that would say otherwise are in that folder.
    torvane::SetLanguage(line.language.value_or(torvane::Language::French));
    if (const std::string problem = torvane::ApplyRunSettings(line); !problem.empty()) {
        std::fprintf(stderr, "torvane: %s\n", problem.c_str());
        return 2;
    }
    // Before any text is made: the texts keep the language they were made in.
    const torvane::Language language = torvane::ChooseLanguage(line.language);
    torvane::SetLanguage(language);
    if (line.action == CommandLine::Action::Refuse) {
        std::fprintf(stderr, "%s\n", torvane::RefusalText(line).c_str());
        std::fputs(torvane::UsageText(), stderr);
        return 2;
    }
    if (line.action == CommandLine::Action::Help) {
        std::fputs(torvane::UsageText(), stdout);
        return 0;
    }
    if (line.action == CommandLine::Action::Ctl) {
        QCoreApplication application(argc, argv);
        return torvane::RunCtl(line.ctl);
    }

    bool headless = line.headless;
    if (!headless && !HasDisplay()) {
        std::puts(torvane::Tr("No display: Torvane starts without windows (--headless).",
                              "Pas d'affichage : Torvane démarre sans fenêtre (--headless)."));
        std::fflush(stdout);
        headless = true;
    }

    if (headless) {
        QCoreApplication application(argc, argv);
        PrepareApplication(application, language);
        torvane::HeadlessApp torvane(line.start);
        return Run(torvane, application);
    }
    QApplication application(argc, argv);
    PrepareApplication(application, language);
    application.setQuitOnLastWindowClosed(false);
    torvane::InstallQtTranslations(application, language == torvane::Language::French);
    torvane::CTorvaneApp torvane(line.start);
    return Run(torvane, application);
}
