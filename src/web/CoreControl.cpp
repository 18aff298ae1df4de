#include "web/CoreControl.h"

#include "app/Core.h"
#include "app/JournalActions.h"
#include "app/NewRace.h"
#include "app/OperatorCommands.h"
#include "app/UnknownChipResend.h"
#include "base/Clock.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "journal/JournalExport.h"
#include "tables/DagTable.h"

namespace torvane {
namespace {

const char* HostStateName(HostLinkState state) {
    switch (state) {
        case HostLinkState::Connected:
            return "connected";
        case HostLinkState::Connecting:
            return "connecting";
        case HostLinkState::Disconnected:
            break;
    }
    return "disconnected";
}

QString LocalIso(std::int64_t utcMs) {
    return QString::fromStdString(IsoLocalTime(utcMs, clock::UtcOffsetSeconds(utcMs / 1000)));
}

QJsonObject SourceObject(const SourceSnapshot& source) {
    QJsonArray perMinute;
    for (std::uint32_t count : source.perMinute) perMinute.append(static_cast<qint64>(count));
    return {{"name", QString::fromStdString(source.name)},
            {"address", QString::fromStdString(source.address)},
            {"connected", source.connected},
            {"passings", static_cast<qint64>(source.passings)},
            {"last_passing",
             source.lastPassingMs ? QJsonValue(LocalIso(*source.lastPassingMs)) : QJsonValue()},
            {"per_minute", perMinute},
            {"silent", source.silent}};
}

// When the race's journal began, its passings and its bytes; null when it cannot be read.
QJsonValue JournalObject(Journal& journal) {
    JournalSummary summary;
    if (!journal.IsOpen() || !ReadJournalSummary(journal.Path(), summary).done) return {};
    return QJsonObject{{"began", LocalIso(summary.beganUtcMs)},
                       {"passings", static_cast<qint64>(summary.passings)},
                       {"bytes", static_cast<qint64>(summary.bytes)}};
}

}  // namespace

CoreControl::CoreControl(Core& core)
    : core_(core), journal_(GetDataFolder() + "/" + Journal::kFileName), actions_(core) {
    core.AddJournalReleaseHook([this] { journal_.Release(); });
}

QJsonObject CoreControl::Status() {
    const RunningState& state = core_.State();
    const char* mylaps = state.myLapsLinkState == MyLapsLinkState::Connected ? "connected"
                         : core_.Listener().IsListening()                    ? "waiting"
                                                                             : "not_listening";
    QJsonArray sources;
    for (const SourceSnapshot& source : core_.Activity().Snapshot(clock::NowMs())) {
        sources.append(SourceObject(source));
    }
    const std::string& day = state.raceDays[0];
    const QString raceDay = day.size() == 8
                                ? QString::fromStdString(day.substr(0, 4) + "-" + day.substr(4, 2) +
                                                         "-" + day.substr(6, 2))
                                : QString::fromStdString(day);
    return {
        {"flow", state.flowOpen ? "open" : "closed"},
        {"waiting", static_cast<qint64>(core_.WaitingDetectionCount())},
        {"mylaps", QJsonObject{{"state", mylaps}, {"connected_sources", state.connectedSources}}},
        {"ostrak", QJsonObject{{"state", HostStateName(state.hostLinkState)}}},
        {"chip_table", DagTableCount()},
        {"race_day", raceDay},
        {"days_to_add", state.daysToAdd},
        {"silence_minutes", core_.Activity().SilenceMinutes()},
        {"journal", JournalObject(core_.PassingJournal())},
        {"sources", sources},
        {"text", QString::fromStdString(StatusText(core_))}};
}

std::optional<QJsonArray> CoreControl::Detections(std::optional<std::int64_t> after, int limit,
                                                  QString& error) {
    std::string reason;
    auto rows = journal_.Detections(after, limit, reason);
    error = QString::fromStdString(reason);
    return rows;
}

QJsonArray CoreControl::Results(int limit) {
    const SummaryListModel& summary = core_.Lists().summary;
    QJsonArray results;
    for (int row = std::max(0, summary.Count() - limit); row < summary.Count(); ++row) {
        const CSummaryItem& item = summary.Item(row);
        results.append(QJsonObject{{"bib", item.bib},
                                   {"name", QString::fromStdString(Trim(item.name))},
                                   {"time", QString::fromStdString(item.time)},
                                   {"passage", QString::fromStdString(item.passage)},
                                   {"status", QString::fromStdString(item.status)},
                                   {"accepted", item.errorFlag == 0}});
    }
    return results;
}

QJsonArray CoreControl::LogLines(int limit, int level) {
    const auto& recent = core_.Logs().RecentLines();
    std::vector<const std::string*> chosen;
    for (auto it = recent.rbegin(); it != recent.rend() && static_cast<int>(chosen.size()) < limit;
         ++it) {
        if (it->first <= level) chosen.push_back(&it->second);
    }
    QJsonArray lines;
    for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
        lines.append(QString::fromStdString(**it));
    }
    return lines;
}

std::unique_ptr<QIODevice> CoreControl::ExportCsv(QString& error) {
    core_.FinishBurst();  // what is still in memory is exported too
    std::string reason;
    auto stream = journal_.ExportStream(reason);
    error = QString::fromStdString(reason);
    return stream;
}

ControlPort::Outcome CoreControl::SetFlow(bool open) {
    // The page and ctl ask the operator first; the terminal's question is not asked again.
    core_.SetFlowOpen(open);
    return {true, open ? Tr("Detection flow open.", "Flux des détections ouvert.")
                       : Tr("Detection flow closed.", "Flux des détections fermé.")};
}

void CoreControl::Replay(const std::string& from, const std::optional<std::string>& to,
                         std::function<void(Outcome)> done) {
    // What the terminal prints: a "+++" line once the detections are queued again, a usage or a
    // "$$$" line otherwise.
    actions_.Replay(from, to, [done](const std::string& text) {
        done({text.rfind("+++", 0) == 0, text});
    });
}

ControlPort::Outcome CoreControl::Reload() {
    std::string message;
    const bool loaded = core_.LoadChipTableAndLog(&message);
    return {loaded, message};
}

ControlPort::Outcome CoreControl::ResendUnknown() {
    Outcome outcome;
    outcome.ok = ResendUnknownChips(core_, outcome.message);
    return outcome;
}

ControlPort::Outcome CoreControl::NewRace() {
    // The page and ctl ask the operator first, as for closing the flow.
    Outcome outcome;
    outcome.ok = StartNewRace(core_, outcome.message);
    return outcome;
}

ControlPort::Outcome CoreControl::Disconnect() {
    if (!core_.IsAnyLinkActive())
        return {false, Tr("Nothing is connected.", "Rien n'est connecté.")};
    core_.DisconnectAll();
    return {true, Tr("MyLaps and Ostrak Pro disconnected.", "MyLaps et Ostrak Pro déconnectés.")};
}

}  // namespace torvane
