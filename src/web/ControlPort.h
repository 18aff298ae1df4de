#pragma once

#include <QIODevice>
#include <QJsonArray>
#include <QJsonObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace torvane {

// What the web API may read from the running program and ask of it: a narrow view of the core,
// so that the API is tested without a whole program. Called on the user-interface thread.
class ControlPort {
public:
    struct Outcome {
        bool ok = false;
        std::string message;  // what the terminal prints for the same command
    };

    virtual ~ControlPort() = default;

    virtual QJsonObject Status() = 0;
    // The newest detection's sequence number (0 when none): what the live updates announce.
    virtual std::int64_t NewestSeq() = 0;
    // Detections after `after`, oldest first; without `after`, the newest `limit`. Nothing (and
    // the reason) when the journal cannot be read.
    virtual std::optional<QJsonArray> Detections(std::optional<std::int64_t> after, int limit,
                                                 QString& error) = 0;
    virtual QJsonArray Results(int limit) = 0;
    virtual QJsonArray LogLines(int limit, int level) = 0;
    // The export's CSV, read from the journal as the client takes it; null with the reason.
    virtual std::unique_ptr<QIODevice> ExportCsv(QString& error) = 0;

    virtual Outcome SetFlow(bool open) = 0;
    // The replay reads the journal away from the window thread: its outcome comes later.
    virtual void Replay(const std::string& from, const std::optional<std::string>& to,
                        std::function<void(Outcome)> done) = 0;
    virtual Outcome Reload() = 0;
    virtual Outcome Disconnect() = 0;
    // Sends again with their bibs the passings of chips the table now holds.
    virtual Outcome ResendUnknown() = 0;
    // Keeps the race's journal and starts a new one; refused while lines wait for the host.
    virtual Outcome NewRace() = 0;
};

}  // namespace torvane
