#include "app/shell/CommandLine.h"

#include <charconv>
#include <string_view>

namespace torvane {
namespace {

void Refuse(CommandLine& line, std::string argument, std::string_view option = {}) {
    if (line.action != CommandLine::Action::Run) return;
    line.action = CommandLine::Action::Refuse;
    line.refusal = std::move(argument);
    line.refusedOption = option;
}

// The value of "--name VALUE" or "--name=VALUE"; none when the option is not this one, an empty
// value when it is missing.
std::optional<std::string_view> OptionValue(std::string_view name, int argc,
                                            const char* const* argv, int& i) {
    const std::string_view argument = argv[i];
    if (argument == name) return i + 1 < argc ? std::string_view(argv[++i]) : std::string_view();
    if (argument.starts_with(name) && argument.size() > name.size() &&
        argument[name.size()] == '=') {
        return argument.substr(name.size() + 1);
    }
    return std::nullopt;
}

std::optional<int> ParsePort(std::string_view text) {
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return port;
}

void ReadPort(CommandLine& line, std::string_view option, std::string_view value,
              std::optional<int>& port) {
    port = ParsePort(value);
    if (!port) Refuse(line, std::string(value), option);
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
        } else if (const auto value = OptionValue("--lang", argc, argv, i)) {
            const auto language = ParseLanguage(*value);
            if (language) {
                line.language = language;
            } else {
                Refuse(line, std::string(*value), "--lang");
            }
        } else if (const auto folder = OptionValue("--data-dir", argc, argv, i)) {
            line.dataFolder = *folder;
            if (folder->empty()) Refuse(line, {}, "--data-dir");
        } else if (const auto port = OptionValue("--mylaps-port", argc, argv, i)) {
            ReadPort(line, "--mylaps-port", *port, line.myLapsPort);
        } else if (const auto port = OptionValue("--ostrak-port", argc, argv, i)) {
            ReadPort(line, "--ostrak-port", *port, line.ostrakPort);
        } else {
            Refuse(line, std::string(argument));
        }
    }
    return line;
}

std::string RefusalText(const CommandLine& line) {
    if (line.refusedOption.empty()) {
        return Format(Tr("unknown option: %s", "option inconnue: %s"), line.refusal.c_str());
    }
    std::string expected;
    if (line.refusedOption == "--lang") {
        expected = Tr("--lang takes fr or en", "--lang attend fr ou en");
    } else if (line.refusedOption == "--data-dir") {
        expected = Tr("--data-dir takes a folder", "--data-dir attend un dossier");
    } else {
        expected = Format(Tr("%s takes a port number from 1 to 65535",
                             "%s attend un numéro de port de 1 à 65535"),
                          line.refusedOption.c_str());
    }
    if (line.refusal.empty()) return expected;
    return expected + Format(Tr(", not \"%s\"", ", pas « %s »"), line.refusal.c_str());
}

const char* UsageText() {
    return Tr(
        "Usage: torvane [--headless] [--open-flow] [--lang fr|en] [--help] [--version]\n"
        "               [--data-dir DIR] [--mylaps-port N] [--ostrak-port N] [--web-port PORT]\n"
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
        "  --data-dir DIR the settings, log, journal and chip table of this run in DIR\n"
        "                 (made when missing), for a rehearsal beside a real race\n"
        "  --mylaps-port N  the port the timing source connects to, for this run only\n"
        "  --ostrak-port N  Ostrak Pro's port, for this run only (neither is saved)\n"
        "  --help         show this help and stop\n"
        "  --version      show the version and stop\n"
        "\n"
        "Without a display (neither DISPLAY nor WAYLAND_DISPLAY set), Torvane runs\n"
        "headless by itself. SIGTERM, SIGINT and SIGHUP stop it cleanly. See torvane(1).\n",
        "Usage : torvane [--headless] [--open-flow] [--lang fr|en] [--help] [--version]\n"
        "                [--data-dir DIR] [--mylaps-port N] [--ostrak-port N] [--web-port PORT]\n"
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
        "  --data-dir DIR les réglages, traces, journal et table de cette fois dans DIR\n"
        "                 (créé s'il manque), pour une répétition à côté d'une course\n"
        "  --mylaps-port N  le port où se connecte la source, pour cette fois\n"
        "  --ostrak-port N  le port d'Ostrak Pro, pour cette fois (aucun n'est enregistré)\n"
        "  --help         affiche cette aide et s'arrête\n"
        "  --version      affiche la version et s'arrête\n"
        "\n"
        "Sans affichage (ni DISPLAY ni WAYLAND_DISPLAY), Torvane démarre de lui-même\n"
        "sans fenêtre. SIGTERM, SIGINT et SIGHUP l'arrêtent proprement. Voir torvane(1).\n");
}

}  // namespace torvane
