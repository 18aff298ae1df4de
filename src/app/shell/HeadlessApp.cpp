#include "app/shell/HeadlessApp.h"

#include <QCoreApplication>
#include <csignal>

#include "app/shell/LanguageSetting.h"
#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"

namespace torvane {
namespace {

constexpr const char* kPrompt = "torvane> ";

std::string SummaryRowText(const CSummaryItem& item) {
    const std::string bib = item.bib ? std::to_string(item.bib) : std::string();
    return Format("RES  %5s %-25s %-12s %-4s %s", bib.c_str(), item.name.c_str(), item.time.c_str(),
                  item.passage.c_str(), item.status.c_str());
}

// Prints the rows a list announces, as they arrive.
template <typename Model, typename RowText>
void PrintAppendedRows(Model& model, RowText rowText,
                       std::function<void(const std::string&)> print) {
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, &model,
                     [&model, rowText, print](const QModelIndex&, int first, int last) {
                         std::string text;
                         for (int row = first; row <= last; ++row) {
                             text += rowText(model, row) + "\n";
                         }
                         print(text);
                     });
}

}  // namespace

HeadlessApp::HeadlessApp(StartOptions options)
    : options_(options),
      manualInput_(std::make_unique<TypedManualDetection>(
          [this](const std::string& text) { Print(text); })) {}

HeadlessApp::~HeadlessApp() {
    signals_.reset();
    commands_.reset();
    web_.reset();
    core_.reset();
    console_ = nullptr;
    consoleOwner_.reset();
}

void HeadlessApp::ConnectListPrinters() {
    const auto print = [this](const std::string& text) { Print(text); };
    ActivityLists& lists = core_->Lists();
    PrintAppendedRows(
        lists.log, [](TextListModel& model, int row) { return model.Line(row); }, print);
    PrintAppendedRows(
        lists.detections, [](TextListModel& model, int row) { return "DET  " + model.Line(row); },
        print);
    PrintAppendedRows(
        lists.summary,
        [](SummaryListModel& model, int row) { return SummaryRowText(model.Item(row)); }, print);
}

bool HeadlessApp::InitInstance() {
    std::signal(SIGPIPE, SIG_IGN);
    if (!instance_.Acquire()) return false;
    signals_ = std::make_unique<SignalBridge>([] { QCoreApplication::quit(); }, [] {});

    core_ = std::make_unique<Core>(Core::Ports{dialogs_, status_, *manualInput_});
    manualInput_->AttachState(core_->State());
    core_->LoadGeneralSettings();
    KeepLanguageSetting();
    if (options_.openFlow) core_->State().flowOpen = true;

    MakeDirectories(GetLogFolder());
    FixLogFilePath();
    WriteStartBanner();

    ConnectListPrinters();
    core_->AttachMessageTarget();
    core_->LoadLogLevels();
    Log(0, StartLineText());
    status_.ShowDayOffset(core_->State().daysToAdd);
    core_->StartRaceDayTimer();

    const int port = ReadIniInt("MyLaps", "Port", 3097);
    WriteIniInt("MyLaps", "Port", port);
    core_->LoadChipTableAndLog();
    core_->OpenJournal();
    std::string started = Tr("Application started...", "Application démarrée...");
    if (!core_->State().flowOpen) {
        started +=
            Tr("\nBut detection flow is closed!", "\nMais le flux des détections est fermé !");
    }
    status_.ShowTrayBalloon(0, started);
    if (core_->StartListener(port) != 0) {
        // Deaf to every source: the reason goes to the log and the terminal, and the process
        // ends with a failure that a service manager answers with a restart.
        core_->DeliverPendingWork();
        exitCodeWithoutStart_ = 1;
        return false;
    }
    core_->StartLinkForWaitingLines();

    web_ = WebFrontEnd::Start(*core_, options_.webPort);
    commands_ = std::make_unique<OperatorCommands>(
        *core_, *manualInput_, [this](const std::string& text) { Print(text); },
        [this] {
            if (console_) console_->Close();
            QCoreApplication::quit();
        });
    consoleOwner_ = std::make_unique<ConsoleInput>(
        [this](const std::string& line) { commands_->Execute(line); }, kPrompt);
    console_ = consoleOwner_.get();
    startupComplete_ = true;
    return true;
}

int HeadlessApp::ExitInstance() {
    if (!startupComplete_) return 0;
    core_->Shutdown();
    WriteStopLine();
    return 0;
}

}  // namespace torvane
