#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/RunningState.h"

namespace torvane {

class DetectionListener;
class HostLink;
class DetectionProcessor;
struct MyLapsMessage;

// The MyLaps side of the program: turns each message of a source into log lines,
// acknowledgements and passings, and opens or closes the host link as sources come and go.
class MyLapsProtocol {
public:
    MyLapsProtocol(RunningState& state, DetectionListener& listener, HostLink& hostLink,
                   DetectionProcessor& processor, std::function<void()> linksChanged);

    // wParam 1: a source connected; 0: its connection ended.
    void OnConnection(std::intptr_t wParam);
    void OnMessage(std::unique_ptr<MyLapsMessage> message);

    // "@"-separated fields: empty fields between separators kept, an empty last part dropped.
    static std::vector<std::string> SplitFields(const std::string& text);

private:
    void Reply(MyLapsMessage& message, const std::string& reply, bool logBeforeSending);
    bool TakeToken(std::vector<std::string>& fields, std::string& token) const;
    void ProcessStorePassings(const std::string& source, const std::string& command,
                              const std::vector<std::string>& passings);
    // A "Passing" message: its records, then its acknowledgement.
    void OnPassing(MyLapsMessage& message, const std::string& source, const std::string& command,
                   std::vector<std::string>& fields);
    // The "key=value" records of a "Passing" message.
    void ProcessKeyedPassings(const std::string& source, const std::string& command,
                              const std::vector<std::string>& records);

    RunningState& state_;
    DetectionListener& listener_;
    HostLink& hostLink_;
    DetectionProcessor& processor_;
    std::function<void()> linksChanged_;
};

}  // namespace torvane
