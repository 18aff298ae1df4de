#include "app/shell/CommandLine.h"

#include <string_view>

namespace torvane {
namespace {

void Refuse(CommandLine& line, std::string argument, bool language = false) {
    if (line.action != CommandLine::Action::Run) return;
    line.action = CommandLine::Action::Refuse;
    line.refusal = std::move(argument);
    line.refusedLanguage = language;
}

bool ReadPort(std::string_view text, int& port) {
    if (text.empty() || text.size() > 5) return false;
    port = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        port = port * 10 + (c - '0');
    }
    return port <= 65535;
}

void Decide(CommandLine& line, CommandLine::Action action) {
    if (line.action == CommandLine::Action::Run) line.action = action;
}

}  // namespace

CommandLine ReadCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            Decide(line, CommandLine::Action::Help);
        } else if (argument == "--version") {
            Decide(line, CommandLine::Action::Version);
        } else if (argument == "--headless") {
            line.headless = true;
        } else if (argument == "--open-flow") {
            line.start.openFlow = true;
        } else if (argument == "--web-port") {
            int port = -1;
            if (i + 1 < argc &&
                (std::string_view(argv[i + 1]) == "off" || ReadPort(argv[i + 1], port))) {
                line.start.webPort = port;
                ++i;
            } else {
                Refuse(line, std::string(argument));
            }
        } else if (argument == "ctl" && line.action == CommandLine::Action::Run) {
            // Everything after ctl is the command for the running Torvane.
            line.action = CommandLine::Action::Ctl;
            line.ctl.assign(argv + i + 1, argv + argc);
            break;
        } else if (argument == "--lang" || argument.starts_with("--lang=")) {
            std::string_view value;
            if (argument == "--lang") {
                if (i + 1 < argc) value = argv[++i];
            } else {
                value = argument.substr(std::string_view("--lang=").size());
            }
            const auto language = ParseLanguage(value);
            if (language) {
                line.language = language;
            } else {
                Refuse(line, std::string(value), true);
            }
        } else {
            Refuse(line, std::string(argument));
        }
    }
    return line;
}

std::string RefusalText(const CommandLine& line) {
    if (line.refusedLanguage && line.refusal.empty()) {
        return Tr("--lang takes fr or en", "--lang attend fr ou en");
    }
    if (line.refusedLanguage) {
        return Format(Tr("--lang takes fr or en, not \"%s\"", "--lang attend fr ou en, pas « %s »"),
                      line.refusal.c_str());
    }
    return Format(Tr("unknown option: %s", "option inconnue: %s"), line.refusal.c_str());
}

const char* UsageText() {
    return Tr(
        "Usage: torvane [--headless] [--open-flow] [--web-port PORT] [--lang fr|en] [--help]\n"
        "               [--version]\n"
        "       torvane ctl status|open|close|replay FROM [TO]|export FILE|reload|disconnect\n"
        "\n"
        "Timing proxy between a MyLaps timing source and Ostrak Pro.\n"
        "\n"
        "  --headless     run without windows: the log goes to standard output and the\n"
        "                 operator's commands are read from standard input (type help)\n"
        "  --open-flow    open the detection flow at start, for this run only\n"
        "  --web-port N   the web page's port for this run (0: any free port, off: none)\n"
        "  ctl COMMAND    send a command to the running Torvane through its web page\n"
        "  --lang fr|en   the language of the texts for this run (the Language setting\n"
        "                 of the [Torvane] section otherwise; French by default)\n"
        "  --help         show this help and stop\n"
        "  --version      show the version and stop\n"
        "\n"
        "Without a display (neither DISPLAY nor WAYLAND_DISPLAY set), Torvane runs\n"
        "headless by itself. SIGTERM, SIGINT and SIGHUP stop it cleanly. See torvane(1).\n",
        "Usage : torvane [--headless] [--open-flow] [--web-port PORT] [--lang fr|en] [--help]\n"
        "                [--version]\n"
        "        torvane ctl status|open|close|replay DEBUT [FIN]|export "
        "FICHIER|reload|disconnect\n"
        "\n"
        "Proxy de chronométrage entre une source MyLaps et Ostrak Pro.\n"
        "\n"
        "  --headless     sans fenêtre : les traces vont sur la sortie standard et les\n"
        "                 commandes de l'opérateur sont lues sur l'entrée standard (help)\n"
        "  --open-flow    ouvre le flux des détections au démarrage, pour cette fois\n"
        "  --web-port N   le port de la page web pour cette fois (0 : libre, off : aucun)\n"
        "  ctl COMMANDE   envoie une commande au Torvane qui tourne, par sa page web\n"
        "  --lang fr|en   la langue des textes pour cette fois (sinon le réglage Language\n"
        "                 de la section [Torvane] ; le français par défaut)\n"
        "  --help         affiche cette aide et s'arrête\n"
        "  --version      affiche la version et s'arrête\n"
        "\n"
        "Sans affichage (ni DISPLAY ni WAYLAND_DISPLAY), Torvane démarre de lui-même\n"
        "sans fenêtre. SIGTERM, SIGINT et SIGHUP l'arrêtent proprement. Voir torvane(1).\n");
}

}  // namespace torvane
