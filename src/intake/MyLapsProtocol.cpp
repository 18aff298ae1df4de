#include "intake/MyLapsProtocol.h"

#include "base/CalendarText.h"
#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "host/DetectionForwarder.h"
#include "host/HostRequests.h"
#include "intake/DetectionProcessor.h"
#include "intake/PassingRecord.h"
#include "net/DetectionListener.h"
#include "net/HostLink.h"

namespace torvane {
namespace {

constexpr int kSourceRetryDelaySeconds = 30;

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

void LogPassing(const std::string& source, const std::string& command, const std::string& chip,
                const std::string& time) {
    // "<<< MYLAPS: %s   %s   %s   %s", written directly: this runs for every passing.
    std::string line = "<<< MYLAPS: ";
    line.append(UpToNul(source)).append("   ").append(UpToNul(command)).append("   ");
    line.append(UpToNul(chip)).append("   ").append(UpToNul(time));
    Log(75, std::move(line));
}

}  // namespace

MyLapsProtocol::MyLapsProtocol(RunningState& state, DetectionListener& listener, HostLink& hostLink,
                               DetectionProcessor& processor, std::function<void()> linksChanged)
    : state_(state),
      listener_(listener),
      hostLink_(hostLink),
      processor_(processor),
      linksChanged_(std::move(linksChanged)) {}

void MyLapsProtocol::OnConnection(std::intptr_t wParam) {
    if (wParam == 1) {
        Log(25, Tr("MyLaps connected", "+++ Connexion MyLaps"));
        const int port = ReadIniInt("Ostrak", "Port", 8283);
        WriteIniInt("Ostrak", "Port", port);
        const std::string host = ReadIniString("Ostrak", "Host", LoopbackHostName());
        WriteIniString("Ostrak", "Host", host);
        hostLink_.StartHostLink(host, port, kSourceRetryDelaySeconds);
        // A second source finds the host link already up: its state stays as it is.
        if (state_.hostLinkState == HostLinkState::Disconnected)
            state_.hostLinkState = HostLinkState::Connecting;
        state_.myLapsLinkState = MyLapsLinkState::Connected;
        ++state_.connectedSources;
    } else {
        Log(25, Tr("MyLaps disconnected", "+++ Déconnexion MyLaps"));
        if (state_.connectedSources > 0) --state_.connectedSources;
        // The host link serves every source: it ends with the last one.
        if (state_.connectedSources == 0) {
            hostLink_.StopHostLink();
            state_.myLapsLinkState = MyLapsLinkState::Waiting;
        }
    }
    if (linksChanged_) linksChanged_();
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

void MyLapsProtocol::Reply(MyLapsMessage& message, const std::string& reply,
                           bool logBeforeSending) {
    message.reply = reply;
    const std::string logLine = ">>> MYLAPS: " + reply;
    if (logBeforeSending) Log(75, logLine);
    listener_.SendMyLapsReply(message);
    if (!logBeforeSending) Log(75, logLine);
}

void MyLapsProtocol::ProcessStorePassings(const std::string& source, const std::string& command,
                                          const std::vector<std::string>& passings) {
    for (const std::string& passing : passings) {
        const std::string chip = Slice(passing, 0, 7);
        const std::string timeField = Slice(passing, 7, 12);
        const std::string boxDate = "20" + Slice(passing, 31, 6);
        LogPassing(source, command, chip, timeField);
        processor_.ProcessPassing(source, chip, timeField, boxDate);
    }
}

void MyLapsProtocol::ProcessKeyedPassings(const std::string& source, const std::string& command,
                                          const std::vector<std::string>& records) {
    const std::string today = TodayDateText();
    for (const std::string& text : records) {
        const PassingRecord record = ReadPassingRecord(text, today);
        if (!record.IsUsable()) {
            Log(0, SkippedRecordLine(record));
            continue;
        }
        LogPassing(source, command, record.chip, record.time);
        processor_.ProcessPassing(source, record.chip, record.timeField, record.boxDate);
    }
}

void MyLapsProtocol::OnPassing(MyLapsMessage& message, const std::string& source,
                               const std::string& command, std::vector<std::string>& fields) {
    std::string token;
    if (!TakeToken(fields, token)) {
        Log(0, Format(Tr("$$$ MyLaps protocol error: %s", "$$$ Erreur de protocole MyLaps: %s"),
                      message.text.c_str()));
        return;
    }
    {
        DetectionForwarder::Batch oneSending(processor_.Forwarder());
        ProcessKeyedPassings(source, command, fields);
    }
    // This dialect's acknowledgement has an "@" before the "$".
    Reply(message, state_.ownName + "@AckPassing@" + token + "@", true);
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
    const std::string source = WithoutLineEnds(fields[0]);
    const std::string command = fields[1];
    fields.erase(fields.begin(), fields.begin() + 2);
    const std::string& own = state_.ownName;

    if (command == "Ping") {
        Log(75, Format("<<< MYLAPS: %s %s", source.c_str(), command.c_str()));
        hostLink_.SendHostLine(kHostPing);
        Reply(*message, own + "@GetInfo@", false);
    } else if (command == "AckPing") {
        Log(75, Format("<<< MYLAPS: %s %s", source.c_str(), command.c_str()));
        Reply(*message, own + "@GetInfo@", false);
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
        if (isStore) {
            DetectionForwarder::Batch oneSending(processor_.Forwarder());
            ProcessStorePassings(source, command, fields);
        }
        Reply(*message, own + (isStore ? "@AckStore@" : "@AckMarker@") + token, true);
    } else if (command == "Passing") {
        OnPassing(*message, source, command, fields);
    } else if (command == "AckPong" || command == "AckGetInfo") {
        Log(75, Format("<<< MYLAPS: Src:%s Cmd:%s", source.c_str(), command.c_str()));
    } else if (command == "Pong") {
        Log(75, Format("<<< MYLAPS: Src:%s Cmd:%s", source.c_str(), command.c_str()));
        Reply(*message, Format("%s@Ping@%s@AckPong@", own.c_str(), own.c_str()), false);
    }
}

}  // namespace torvane
