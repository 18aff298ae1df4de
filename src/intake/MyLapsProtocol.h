#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "net/MyLapsMessage.h"
#include "state/RunningState.h"

namespace torvane {

class HostLink;
class DetectionProcessor;
class Journal;
class BurstCommit;
class SourceActivity;

// The MyLaps side of the program: turns each message of a source into log lines,
// acknowledgements and passings, and asks for the host link as sources come and go. Replies
// leave at the end of the burst, once the passings they acknowledge are journaled.
class MyLapsProtocol {
public:
    struct LinkHooks {
        std::function<void()> sourceConnected;  // a source came: the host link is wanted
        std::function<void()> lastSourceGone;   // no source is left
        std::function<void()> linksChanged;     // the link states changed
    };

    MyLapsProtocol(RunningState& state, HostLink& hostLink, DetectionProcessor& processor,
                   Journal& journal, BurstCommit& burst, LinkHooks hooks);

    // wParam 1: a source connected; 0: its connection ended.
    void OnConnection(std::intptr_t wParam, ConnectionId connection = 0,
                      const std::string& peer = {});
    // Where each source's connections and passings are counted (none by default).
    void SetActivity(SourceActivity* activity) { activity_ = activity; }
    void OnMessage(std::unique_ptr<MyLapsMessage> message);

    // "@"-separated fields: empty fields between separators kept, an empty last part dropped.
    static std::vector<std::string> SplitFields(const std::string& text);

private:
    void Reply(std::unique_ptr<MyLapsMessage> message, const std::string& reply,
               bool logBeforeSending, bool acknowledgesPassings);
    bool TakeToken(std::vector<std::string>& fields, std::string& token) const;
    void ProcessStorePassings(const MyLapsMessage& message, const std::string& source,
                              const std::string& command, const std::string& token,
                              const std::vector<std::string>& passings);
    // A "Passing" message: its "key=value" records, then its acknowledgement.
    void OnPassing(std::unique_ptr<MyLapsMessage> message, const std::string& source,
                   const std::string& command, std::vector<std::string>& fields);
    void ProcessKeyedPassings(const MyLapsMessage& message, const std::string& source,
                              const std::string& command, const std::string& token,
                              const std::vector<std::string>& records);
    // A name or chip code with its control bytes replaced; the first time a connection sends
    // one, the operator is told.
    std::string SafeField(std::string text, const MyLapsMessage& message);
    bool IsResend(const std::string& source, const std::string& record);

    RunningState& state_;
    HostLink& hostLink_;
    DetectionProcessor& processor_;
    Journal& journal_;
    BurstCommit& burst_;
    LinkHooks hooks_;
    std::set<ConnectionId> warnedConnections_;
    SourceActivity* activity_ = nullptr;
};

}  // namespace torvane
