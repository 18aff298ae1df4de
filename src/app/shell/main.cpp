#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/shell/CTorvaneApp.h"
#include "app/shell/HeadlessApp.h"
#include "base/Logging.h"
#include "base/Texts.h"
#include "ui/QtTranslations.h"

namespace {

void PrintUsage() {
    std::fputs(
        torvane::Tr(
            "Usage: torvane [--headless] [--help] [--version]\n"
            "\n"
            "Timing proxy between a MyLaps timing source and Ostrak Pro.\n"
            "\n"
            "  --headless   run without windows: the log goes to standard output and the\n"
            "               operator's commands are read from standard input (type help)\n"
            "  --help       show this help and stop\n"
            "  --version    show the version and stop\n"
            "\n"
            "Without a display (neither DISPLAY nor WAYLAND_DISPLAY set), Torvane runs\n"
            "headless by itself. SIGTERM, SIGINT and SIGHUP stop it cleanly.\n",
            "Usage : torvane [--headless] [--help] [--version]\n"
            "\n"
            "Proxy de chronométrage entre une source MyLaps et Ostrak Pro.\n"
            "\n"
            "  --headless   sans fenêtre : les traces vont sur la sortie standard et les\n"
            "               commandes de l'opérateur sont lues sur l'entrée standard (help)\n"
            "  --help       affiche cette aide et s'arrête\n"
            "  --version    affiche la version et s'arrête\n"
            "\n"
            "Sans affichage (ni DISPLAY ni WAYLAND_DISPLAY), Torvane démarre de lui-même\n"
            "sans fenêtre. SIGTERM, SIGINT et SIGHUP l'arrêtent proprement.\n"),
        stdout);
}

bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return (x11 && *x11) || (wayland && *wayland) ||
           (platform && std::strcmp(platform, "offscreen") == 0);
}

template <typename App>
int Run(App& torvane, QCoreApplication& application) {
    if (!torvane.InitInstance()) return 0;
    application.exec();
    return torvane.ExitInstance();
}

}  // namespace

int main(int argc, char** argv) {
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            PrintUsage();
            return 0;
        }
        if (argument == "--version") {
            std::printf("Torvane %s\n", torvane::kVersionText);
            return 0;
        }
        if (argument == "--headless") {
            headless = true;
        } else {
            std::fprintf(stderr, "%s: %s\n", torvane::Tr("unknown option", "option inconnue"),
                         argument.c_str());
            PrintUsage();
            return 2;
        }
    }
    if (!headless && !HasDisplay()) {
        std::puts(torvane::Tr("No display: Torvane starts without windows (--headless).",
                              "Pas d'affichage : Torvane démarre sans fenêtre (--headless)."));
        std::fflush(stdout);
        headless = true;
    }

    if (headless) {
        QCoreApplication application(argc, argv);
        application.setApplicationName("Torvane");
        torvane::HeadlessApp torvane;
        return Run(torvane, application);
    }
    QApplication application(argc, argv);
    application.setApplicationName("Torvane");
    application.setQuitOnLastWindowClosed(false);
    torvane::InstallQtTranslations(application, torvane::kFrenchTexts);
    torvane::CTorvaneApp torvane;
    return Run(torvane, application);
}
