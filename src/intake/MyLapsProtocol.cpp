#include "intake/MyLapsProtocol.h"

#include "base/CalendarText.h"
#include "base/Clock.h"
#include "base/Logging.h"
#include "base/Texts.h"
#include "delivery/HostRequests.h"
#include "intake/DetectionProcessor.h"
#include "intake/PassingRecord.h"
#include "intake/SafeText.h"
#include "delivery/BurstCommit.h"
#include "intake/SourceActivity.h"
#include "journal/Journal.h"
#include "net/HostLink.h"

namespace torvane {
namespace {

std::string WithoutLineEnds(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text)
        if (c != '\r' && c != '\n') result += c;
    return result;
}

// Cuts [start, start + length) out of a passing record; shorter records give what is there.
std::string Slice(const std::string& record, size_t start, size_t length) {
    if (start >= record.size()) return {};
    return record.substr(start, length);
}

// The one line that tells the operator why a record of a "Passing" message was skipped.
std::string SkippedRecordLine(const PassingRecord& record) {
    const char* format = "";
    switch (record.fault) {
        case PassingRecord::Fault::NoChip:
            format = Tr("$$$ MyLaps passing without chip skipped: [%s]",
                        "$$$ Passage MyLaps sans puce ignoré : [%s]");
            break;
        case PassingRecord::Fault::NoTime:
            format = Tr("$$$ MyLaps passing without time skipped: [%s]",
                        "$$$ Passage MyLaps sans heure ignoré : [%s]");
            break;
        case PassingRecord::Fault::BadTime:
        case PassingRecord::Fault::None:
            format = Tr("$$$ MyLaps passing with an invalid time skipped: [%s]",
                        "$$$ Passage MyLaps à l'heure invalide ignoré : [%s]");
            break;
    }
    return Format(format, record.quoted.c_str());
}

const char* RefusalReason(PassingRecord::Fault fault) {
    switch (fault) {
        case PassingRecord::Fault::NoChip:
            return not_forwarded::kNoChip;
        case PassingRecord::Fault::NoTime:
            return not_forwarded::kNoTime;
        default:
            return not_forwarded::kBadTime;
    }
}

void LogPassing(const std::string& source, const std::string& command, const std::string& chip,
                const std::string& time) {
    // "<<< MYLAPS: %s   %s   %s   %s", written directly: this runs for every passing.
    std::string line = "<<< MYLAPS: ";
    line.append(UpToNul(source)).append("   ").append(UpToNul(command)).append("   ");
    line.append(UpToNul(chip)).append("   ").append(UpToNul(time));
    Log(75, std::move(line));
}

}  // namespace

MyLapsProtocol::MyLapsProtocol(RunningState& state, HostLink& hostLink,
                               DetectionProcessor& processor, Journal& journal, BurstCommit& burst,
                               LinkHooks hooks)
    : state_(state),
      hostLink_(hostLink),
      processor_(processor),
      journal_(journal),
      burst_(burst),
      hooks_(std::move(hooks)) {}

void MyLapsProtocol::OnConnection(std::intptr_t wParam, ConnectionId connection,
                                  const std::string& peer) {
    if (activity_) {
        if (wParam == 1) {
            activity_->OnConnected(connection, peer, clock::NowMs());
        } else {
            activity_->OnDisconnected(connection, clock::NowMs());
        }
    }
    if (wParam == 1) {
        Log(25, Tr("MyLaps connected", "+++ Connexion MyLaps"));
        state_.myLapsLinkState = MyLapsLinkState::Connected;
        ++state_.connectedSources;
        if (hooks_.sourceConnected) hooks_.sourceConnected();
    } else {
        Log(25, Tr("MyLaps disconnected", "+++ Déconnexion MyLaps"));
        warnedConnections_.erase(connection);
        if (state_.connectedSources > 0) --state_.connectedSources;
        // The host link serves every source: it is no longer needed for them once the last
        // one has gone.
        if (state_.connectedSources == 0) {
            state_.myLapsLinkState = MyLapsLinkState::Waiting;
            if (hooks_.lastSourceGone) hooks_.lastSourceGone();
        }
    }
    if (hooks_.linksChanged) hooks_.linksChanged();
}

std::vector<std::string> MyLapsProtocol::SplitFields(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '@' || text[i] == '$') {
            fields.emplace_back(text, start, i - start);
            start = i + 1;
        }
    }
    if (start < text.size()) fields.emplace_back(text, start);
    return fields;
}

bool MyLapsProtocol::TakeToken(std::vector<std::string>& fields, std::string& token) const {
    if (fields.empty()) return false;
    token = std::move(fields.back());
    fields.pop_back();
    if (token.empty()) {
        if (fields.empty()) return false;
        token = std::move(fields.back());
        fields.pop_back();
    }
    return true;
}

void MyLapsProtocol::Reply(std::unique_ptr<MyLapsMessage> message, const std::string& reply,
                           bool logBeforeSending, bool acknowledgesPassings) {
    message->reply = reply;
    std::string logLine = ">>> MYLAPS: " + reply;
    burst_.DeferReply(std::move(message), acknowledgesPassings,
                      logBeforeSending ? std::move(logLine) : std::string(),
                      logBeforeSending ? std::string() : std::move(logLine));
}

std::string MyLapsProtocol::SafeField(std::string text, const MyLapsMessage& message) {
    if (ReplaceControlBytes(text) && warnedConnections_.insert(message.connection).second) {
        Log(0, Format(Tr("$$$ A MyLaps source sends control characters in its names or chip "
                         "codes: they are shown and sent as \"?\" (%s)",
                         "$$$ Une source MyLaps envoie des caractères de contrôle dans ses noms "
                         "ou ses puces : ils sont affichés et transmis comme « ? » (%s)"),
                      text.c_str()));
    }
    return text;
}

bool MyLapsProtocol::IsResend(const std::string& source, const std::string& record) {
    if (!journal_.Contains(source, record)) return false;
    Log(75, Format(Tr("<<< MYLAPS: %s resends a passing already received, not forwarded: %s",
                      "<<< MYLAPS: %s renvoie un passage déjà reçu, non transmis : %s"),
                   source.c_str(), record.c_str()));
    return true;
}

void MyLapsProtocol::ProcessStorePassings(const MyLapsMessage& message, const std::string& source,
                                          const std::string& command, const std::string& token,
                                          const std::vector<std::string>& records) {
    ReceivedPassing passing;
    passing.kind = PassingKind::Store;
    passing.source = source;
    passing.token = token;
    passing.receivedUtcMs = message.receivedUtcMs;
    std::size_t counted = 0;
    const RefusedRecordLog::Message refusals(processor_.Refusals());
    for (const std::string& record : records) {
        if (IsResend(source, record)) continue;
        passing.record = record;
        passing.chip = SafeField(Slice(record, 0, 7), message);
        passing.timeField = Slice(record, 7, 12);
        passing.boxDate = "20" + Slice(record, 31, 6);
        LogPassing(source, command, passing.chip, passing.timeField);
        processor_.ProcessPassing(passing);
        ++counted;
    }
    if (activity_) activity_->OnPassings(message.connection, source, counted, clock::NowMs());
}

void MyLapsProtocol::ProcessKeyedPassings(const MyLapsMessage& message, const std::string& source,
                                          const std::string& command, const std::string& token,
                                          const std::vector<std::string>& records) {
    const std::string today = TodayDateText();
    ReceivedPassing passing;
    passing.kind = PassingKind::Passing;
    passing.source = source;
    passing.token = token;
    passing.receivedUtcMs = message.receivedUtcMs;
    std::size_t counted = 0;
    const RefusedRecordLog::Message refusals(processor_.Refusals());
    for (const std::string& text : records) {
        if (IsResend(source, text)) continue;
        const PassingRecord record = ReadPassingRecord(text, today);
        passing.record = text;
        if (!record.IsUsable()) {
            processor_.Refusals().Refuse(SkippedRecordLine(record));
            passing.chip = SafeField(record.chip, message);
            passing.boxDate = record.boxDate;
            processor_.JournalRefused(passing, RefusalReason(record.fault));
            continue;
        }
        passing.chip = SafeField(record.chip, message);
        passing.timeField = record.timeField;
        passing.boxDate = record.boxDate;
        LogPassing(source, command, passing.chip, record.time);
        processor_.ProcessPassing(passing);
        ++counted;
    }
    if (activity_) activity_->OnPassings(message.connection, source, counted, clock::NowMs());
}

void MyLapsProtocol::OnPassing(std::unique_ptr<MyLapsMessage> message, const std::string& source,
                               const std::string& command, std::vector<std::string>& fields) {
    std::string token;
    if (!TakeToken(fields, token)) {
        Log(0, Format(Tr("$$$ MyLaps protocol error: %s", "$$$ Erreur de protocole MyLaps: %s"),
                      message->text.c_str()));
        return;
    }
    if (!burst_.AcceptsPassings()) return;
    ProcessKeyedPassings(*message, source, command, token, fields);
    // This dialect's acknowledgement has an "@" before the "$".
    Reply(std::move(message), state_.ownName + "@AckPassing@" + token + "@", true, true);
}

void MyLapsProtocol::OnMessage(std::unique_ptr<MyLapsMessage> message) {
    if (!message) return;
    Log(100, "Received: [" + std::string(UpToNul(message->text)) + "]");
    std::vector<std::string> fields = SplitFields(message->text);
    if (fields.size() < 2) {
        Log(0, Format(Tr("$$$ MyLaps protocol error: %s", "$$$ Erreur de protocole MyLaps: %s"),
                      message->text.c_str()));
        return;
    }
    const std::string source = SafeField(WithoutLineEnds(fields[0]), *message);
    const std::string command = fields[1];
    fields.erase(fields.begin(), fields.begin() + 2);
    const std::string& own = state_.ownName;

    if (command == "Ping") {
        Log(75, Format("<<< MYLAPS: %s %s", source.c_str(), command.c_str()));
        hostLink_.SendHostLine(kHostPing);
        Reply(std::move(message), own + "@GetInfo@", false, false);
    } else if (command == "AckPing") {
        Log(75, Format("<<< MYLAPS: %s %s", source.c_str(), command.c_str()));
        Reply(std::move(message), own + "@GetInfo@", false, false);
    } else if (command == "Marker" || command == "Store") {
        const bool isStore = command == "Store";
        if (!isStore) {
            Log(75, Format("<<< MYLAPS: Src:%s Cmd:%s ", source.c_str(), command.c_str()));
        }
        std::string token;
        if (!TakeToken(fields, token)) {
            // Nothing to acknowledge with: no reply, and the operator is told.
            Log(0, Format(Tr("$$$ MyLaps protocol error: %s", "$$$ Erreur de protocole MyLaps: %s"),
                          message->text.c_str()));
            return;
        }
        // Passings that the journal cannot take are not acknowledged: the source sends them
        // again once it can.
        if (isStore && !burst_.AcceptsPassings()) return;
        if (isStore) ProcessStorePassings(*message, source, command, token, fields);
        Reply(std::move(message), own + (isStore ? "@AckStore@" : "@AckMarker@") + token, true,
              isStore);
    } else if (command == "Passing") {
        OnPassing(std::move(message), source, command, fields);
    } else if (command == "AckPong" || command == "AckGetInfo") {
        Log(75, Format("<<< MYLAPS: Src:%s Cmd:%s", source.c_str(), command.c_str()));
    } else if (command == "Pong") {
        Log(75, Format("<<< MYLAPS: Src:%s Cmd:%s", source.c_str(), command.c_str()));
        Reply(std::move(message), Format("%s@Ping@%s@AckPong@", own.c_str(), own.c_str()), false,
              false);
    }
}

}  // namespace torvane
