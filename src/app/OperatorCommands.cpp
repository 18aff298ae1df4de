#include "app/OperatorCommands.h"

#include <algorithm>
#include <sstream>

#include "app/Configuration.h"
#include "app/Core.h"
#include "app/JournalActions.h"
#include "app/NewRace.h"
#include "app/UnknownChipResend.h"
#include "base/Texts.h"
#include "intake/ManualDetectionForm.h"
#include "tables/DagTable.h"

namespace torvane {
namespace {

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

std::string HostStateText(HostLinkState state) {
    switch (state) {
        case HostLinkState::Connecting:
            return Tr("connecting", "connexion en cours");
        case HostLinkState::Connected:
            return Tr("connected", "connecté");
        case HostLinkState::Disconnected:
            break;
    }
    return Tr("disconnected", "déconnecté");
}

std::optional<int> DayOffsetWord(const std::string& word) {
    for (int days = 1; days <= 3; ++days) {
        if (word == "+" + std::to_string(days * 24) + "h") return days;
    }
    return std::nullopt;
}

bool LooksLikeTime(const std::string& word) {
    return word.find(':') != std::string::npos || std::count(word.begin(), word.end(), '.') >= 2;
}

}  // namespace

std::optional<ManualDetection> TypedManualDetection::AskManualDetection(
    const std::vector<std::string>& detectors) {
    if (!request_ || !state_) return std::nullopt;
    const Request request = *std::exchange(request_, std::nullopt);
    const ManualDetectionOpening opening = OpenManualDetectionForm(*state_, detectors.size());

    int detectorIndex = detectors.empty() ? -1 : opening.detectorIndex;
    if (request.detector) {
        detectorIndex = -1;
        for (size_t i = 0; i < detectors.size(); ++i) {
            if (detectors[i] == *request.detector) detectorIndex = static_cast<int>(i);
        }
    }
    const auto result = ValidateManualDetection(
        request.bibText, request.timeText.value_or(opening.timeText), detectorIndex, detectors,
        request.dayOffset.value_or(opening.dayOffsetIndex));
    if (!result) {
        print_(result.error);
        return std::nullopt;
    }
    return result.value;
}

OperatorCommands::OperatorCommands(Core& core, TypedManualDetection& manualInput,
                                   std::function<void(const std::string&)> print,
                                   std::function<void()> quit)
    : core_(core),
      manualInput_(manualInput),
      print_(std::move(print)),
      quit_(std::move(quit)),
      journalActions_(core) {}

std::string OperatorCommands::HelpText() {
    return Tr(
        "Commands:\n"
        "  status                 links, detection flow, race day, chip table, DAG file\n"
        "  open | close           open or close the detection flow\n"
        "  insert BIB [TIME] [DETECTOR] [+24h|+48h|+72h]\n"
        "                         insert a detection by hand\n"
        "  reload                 reload the chip table\n"
        "  dag on|off             record untranslated detections in a DAG file\n"
        "  transmit on|off        also send recorded detections to Ostrak-Pro\n"
        "  level N                log level shown here (0, 25, 50, 75, 100)\n"
        "  disconnect             disconnect MyLaps and Ostrak Pro\n"
        "  replay FROM [TO]       send again the detections received from FROM to TO\n"
        "                         (HH:MM[:SS] of the race, 25:10 is 01:10 of the next day)\n"
        "  export FILE [--journal KEPT]\n"
        "                         write every journaled detection (of a kept journal) to a CSV "
        "file\n"
        "  resend-unknown         send again with their bibs the detections of chips now in "
        "the table\n"
        "  new-race               keep this race's journal and start a new one\n"
        "  help                   this list\n"
        "  quit                   stop Torvane",
        "Commandes :\n"
        "  status                 liaisons, flux des détections, jour de course, table, "
        "fichier DAG\n"
        "  open | close           ouvrir ou fermer le flux des détections\n"
        "  insert DOSSARD [TEMPS] [DETECTEUR] [+24h|+48h|+72h]\n"
        "                         insérer une détection à la main\n"
        "  reload                 recharger la table de correspondance\n"
        "  dag on|off             enregistrer les détections non traduites (fichier DAG)\n"
        "  transmit on|off        envoyer aussi à Ostrak-Pro pendant l'enregistrement\n"
        "  level N                niveau des traces affichées (0, 25, 50, 75, 100)\n"
        "  disconnect             déconnecter MyLaps et Ostrak Pro\n"
        "  replay DEBUT [FIN]     renvoyer les détections reçues de DEBUT à FIN\n"
        "                         (HH:MM[:SS] de la course, 25:10 est 01:10 du lendemain)\n"
        "  export FICHIER [--journal GARDE]\n"
        "                         écrire toutes les détections du journal (ou d'un journal "
        "gardé) dans un fichier CSV\n"
        "  resend-unknown         renvoyer avec leur dossard les détections des puces "
        "maintenant dans la table\n"
        "  new-race               garder le journal de cette course et en commencer un nouveau\n"
        "  help                   cette liste\n"
        "  quit                   arrêter Torvane");
}

void OperatorCommands::Execute(const std::string& line) {
    const std::vector<std::string> words = Words(line);
    if (words.empty()) return;
    const std::string& command = words[0];
    if (command == "status") {
        Status();
    } else if (command == "open") {
        SetFlow(true);
    } else if (command == "close") {
        SetFlow(false);
    } else if (command == "insert") {
        // As the window's button: a detection is inserted while a link is active.
        if (!core_.IsAnyLinkActive()) {
            print_(Tr("No active link: no detection can be inserted.",
                      "Aucune liaison active : insertion impossible."));
            return;
        }
        Insert(words);
    } else if (command == "reload") {
        ReloadChipTable(core_);
    } else if (command == "dag") {
        SwitchOption(words, true);
    } else if (command == "transmit") {
        SwitchOption(words, false);
    } else if (command == "level") {
        Level(words);
    } else if (command == "disconnect") {
        if (!core_.IsAnyLinkActive()) {
            print_(Tr("Nothing is connected.", "Rien n'est connecté."));
            return;
        }
        core_.DisconnectAllAfterQuestion();
    } else if (command == "replay") {
        if (words.size() < 2 || words.size() > 3) {
            print_(Tr("Usage: replay HH:MM[:SS] [HH:MM[:SS]]",
                      "Usage : replay HH:MM[:SS] [HH:MM[:SS]]"));
            return;
        }
        const auto to = words.size() == 3 ? std::optional<std::string>(words[2]) : std::nullopt;
        journalActions_.Replay(words[1], to, print_);
    } else if (command == "export") {
        Export(line.substr(line.find("export") + 6));
    } else if (command == "resend-unknown") {
        std::string message;
        ResendUnknownChips(core_, message);
        print_(message);
    } else if (command == "new-race") {
        NewRace();
    } else if (command == "help") {
        print_(HelpText());
    } else if (command == "quit" || command == "exit") {
        quit_();
    } else {
        print_(Format(Tr("Unknown command: %s (help lists the commands)",
                         "Commande inconnue : %s (help donne la liste des commandes)"),
                      command.c_str()));
    }
}

std::string StatusText(Core& core) {
    const RunningState& state = core.State();
    const std::string mylaps =
        state.myLapsLinkState == MyLapsLinkState::Connected
            ? Format(Tr("connected (%d source(s))", "connecté (%d source(s))"),
                     state.connectedSources)
        : core.Listener().IsListening() ? Tr("waiting for a connection", "en attente de connexion")
                                        : Tr("not listening (the port could not be opened)",
                                             "pas à l'écoute (le port n'a pas pu être ouvert)");
    const std::string dag =
        state.dagRecording ? state.dagPath : Tr("not recording", "pas d'enregistrement");
    std::string text = Format(
        Tr("MyLaps: %s\nOstrak Pro: %s\nDetection flow: %s\nDays to add: %d "
           "(race day %s)\nChip table: %d entries\nDAG file: %s\nAlso transmit: %s\n"
           "Detections waiting for Ostrak Pro: %zu",
           "MyLaps : %s\nOstrak Pro : %s\nFlux des détections : %s\nJours ajoutés : %d "
           "(premier jour %s)\nTable de correspondance : %d entrées\nFichier DAG : %s\n"
           "Transmission pendant l'enregistrement : %s\nDétections en attente : %zu"),
        mylaps.c_str(), HostStateText(state.hostLinkState).c_str(),
        state.flowOpen ? Tr("open", "ouvert") : Tr("closed", "fermé"), state.daysToAdd,
        state.raceDays[0].c_str(), DagTableCount(), dag.c_str(),
        state.alsoTransmit ? Tr("yes", "oui") : Tr("no", "non"), core.WaitingDetectionCount());
    text += "\n" + RaceJournalText(core);
    for (const std::string& name : core.Activity().SilentNames()) {
        text += Format(Tr("\nSilent source: %s", "\nSource silencieuse : %s"), name.c_str());
    }
    return text;
}

// The file, then the kept journal, are the rest of the line, so that their names may hold blanks.
void OperatorCommands::Export(const std::string& rest) {
    const std::size_t option = rest.find(" --journal");
    const std::string file = Trim(rest.substr(0, option));
    const std::string kept =
        option == std::string::npos ? std::string() : Trim(rest.substr(option + 10));
    if (file.empty() || (option != std::string::npos && kept.empty())) {
        print_(
            Tr("Usage: export FILE [--journal KEPT]", "Usage : export FICHIER [--journal GARDE]"));
        return;
    }
    journalActions_.Export(file, print_, kept);
}

void OperatorCommands::NewRace() {
    if (!core_.Dialogs().AskYesNo(NewRaceQuestion())) return;
    std::string message;
    StartNewRace(core_, message);
    print_(message);
}

void OperatorCommands::Status() {
    print_(StatusText(core_));
}

void OperatorCommands::SetFlow(bool open) {
    if (!open && core_.State().flowOpen &&
        !core_.Dialogs().AskYesNo(Tr("Are you sure you want to close the detection flow?",
                                     "Etes vous sûr de fermer le flux des détections ?"))) {
        return;
    }
    core_.SetFlowOpen(open);
    print_(open ? Tr("Detection flow open.", "Flux des détections ouvert.")
                : Tr("Detection flow closed.", "Flux des détections fermé."));
}

void OperatorCommands::Insert(const std::vector<std::string>& words) {
    if (words.size() < 2) {
        print_(Tr("Usage: insert BIB [TIME] [DETECTOR] [+24h|+48h|+72h]",
                  "Usage : insert DOSSARD [TEMPS] [DETECTEUR] [+24h|+48h|+72h]"));
        return;
    }
    TypedManualDetection::Request request;
    request.bibText = words[1];
    std::vector<std::string> detectorWords;
    for (size_t i = 2; i < words.size(); ++i) {
        if (auto days = DayOffsetWord(words[i])) {
            request.dayOffset = *days;
        } else if (!request.timeText && detectorWords.empty() && LooksLikeTime(words[i])) {
            request.timeText = words[i];
        } else {
            detectorWords.push_back(words[i]);
        }
    }
    if (!detectorWords.empty()) {
        std::string detector;
        for (const auto& word : detectorWords) detector += (detector.empty() ? "" : " ") + word;
        // "31 CLASSIC" stands for the fixed detector, whose name holds several blanks.
        request.detector = detector == "31 CLASSIC" ? "31     CLASSIC" : detector;
    }
    manualInput_.SetRequest(std::move(request));
    core_.InsertManualDetection();
}

void OperatorCommands::SwitchOption(const std::vector<std::string>& words, bool dag) {
    if (words.size() != 2 || (words[1] != "on" && words[1] != "off")) {
        print_(dag ? Tr("Usage: dag on|off", "Usage : dag on|off")
                   : Tr("Usage: transmit on|off", "Usage : transmit on|off"));
        return;
    }
    const bool on = words[1] == "on";
    RunningState& state = core_.State();
    if (!dag) {
        state.alsoTransmit = on;
    } else if (on != state.dagRecording) {
        SwitchDagRecording(core_, on);
    }
    if (dag) {
        print_(state.dagRecording
                   ? Format(Tr("Recording to %s", "Enregistrement dans %s"), state.dagPath.c_str())
                   : Tr("No DAG recording.", "Pas d'enregistrement DAG."));
    } else {
        print_(on ? Tr("Recorded detections are also sent to Ostrak-Pro.",
                       "Les détections enregistrées sont aussi envoyées à Ostrak-Pro.")
                  : Tr("Recorded detections are no more sent to Ostrak-Pro.",
                       "Les détections enregistrées ne sont plus envoyées à Ostrak-Pro."));
    }
}

void OperatorCommands::Level(const std::vector<std::string>& words) {
    if (words.size() != 2 || !core_.ChooseWindowLevel(words[1])) {
        print_(Tr("Usage: level N", "Usage : level N"));
    }
}

}  // namespace torvane
