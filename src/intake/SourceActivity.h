#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/MyLapsMessage.h"

namespace torvane {

// What the page and `status` show of one source.
struct SourceSnapshot {
    std::string name;
    std::string address;
    bool connected = false;
    std::uint64_t passings = 0;
    std::optional<std::int64_t> lastPassingMs;  // UTC milliseconds
    std::array<std::uint32_t, 30> perMinute{};  // the last 30 minutes, oldest first
    bool silent = false;
};

// The sources of this run: their passings, per-minute counts and the silence watchdog. A source
// is known by the name its messages carry (by its address until it sends one), so that one
// that reconnects keeps its row. Used on the user-interface thread only.
class SourceActivity {
public:
    static constexpr std::int64_t kReconnectGraceMs = 30 * 1000;
    static constexpr int kMinutes = 30;

    // How a silence is told beyond the log: the notification of a lost host.
    using Notify = std::function<void(const std::string& text)>;
    explicit SourceActivity(Notify notify = {}) : notify_(std::move(notify)) {}

    // 0 turns the watchdog off.
    void SetSilenceMinutes(int minutes) { silenceMinutes_ = minutes < 0 ? 0 : minutes; }
    int SilenceMinutes() const { return silenceMinutes_; }

    void OnConnected(ConnectionId connection, const std::string& address, std::int64_t nowMs);
    void OnDisconnected(ConnectionId connection, std::int64_t nowMs);
    // `count` passings of a message of `connection`, whose messages carry `name`.
    void OnPassings(ConnectionId connection, const std::string& name, std::size_t count,
                    std::int64_t nowMs);
    // The watchdog's look, every half second: silences start only while the flow is open.
    void Check(bool flowOpen, std::int64_t nowMs);

    std::vector<SourceSnapshot> Snapshot(std::int64_t nowMs) const;
    // The names of the silent sources, for `status`.
    std::vector<std::string> SilentNames() const;

private:
    struct Source {
        std::string name;
        std::string address;
        int connections = 0;
        std::uint64_t passings = 0;
        std::int64_t lastPassingMs = 0;
        std::int64_t quietSinceMs = 0;     // what silence is measured from
        std::int64_t disconnectedMs = -1;  // when the last connection ended, -1 while connected
        std::array<std::uint32_t, kMinutes> buckets{};
        std::int64_t bucketMinute = 0;  // the minute of the newest bucket
        bool silent = false;
        bool named = false;  // false while it is known by its address only
    };

    Source& SourceOf(ConnectionId connection, const std::string& name);
    static void Roll(Source& source, std::int64_t minute);
    std::optional<std::string> SilenceText(const Source& source, std::int64_t nowMs) const;

    Notify notify_;
    int silenceMinutes_ = 10;
    std::vector<std::unique_ptr<Source>> sources_;  // in the order they came
    std::map<ConnectionId, Source*> byConnection_;
};

}  // namespace torvane
