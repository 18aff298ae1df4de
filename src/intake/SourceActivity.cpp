#include "intake/SourceActivity.h"

#include <algorithm>

#include "base/Logging.h"
#include "base/Texts.h"

namespace torvane {
namespace {

constexpr std::int64_t kMinuteMs = 60 * 1000;

std::int64_t MinuteOf(std::int64_t ms) {
    return ms / kMinuteMs;
}

}  // namespace

void SourceActivity::OnConnected(ConnectionId connection, const std::string& address,
                                 std::int64_t nowMs) {
    // A source that comes back from the same address takes its row again.
    Source* source = nullptr;
    for (auto& known : sources_) {
        if (known->connections == 0 && known->address == address) source = known.get();
    }
    if (!source) {
        sources_.push_back(std::make_unique<Source>());
        source = sources_.back().get();
        source->name = address;
        source->address = address;
        source->quietSinceMs = nowMs;
        source->bucketMinute = MinuteOf(nowMs);
    }
    ++source->connections;
    source->disconnectedMs = -1;
    byConnection_[connection] = source;
}

void SourceActivity::OnDisconnected(ConnectionId connection, std::int64_t nowMs) {
    const auto found = byConnection_.find(connection);
    if (found == byConnection_.end()) return;
    Source& source = *found->second;
    byConnection_.erase(found);
    if (source.connections > 0 && --source.connections == 0) source.disconnectedMs = nowMs;
}

SourceActivity::Source& SourceActivity::SourceOf(ConnectionId connection, const std::string& name) {
    auto found = byConnection_.find(connection);
    if (found == byConnection_.end()) {
        // A message without a connection seen before (tests, a late notice): its own row.
        sources_.push_back(std::make_unique<Source>());
        sources_.back()->connections = 1;
        found = byConnection_.emplace(connection, sources_.back().get()).first;
    }
    Source* source = found->second;
    if (source->named && source->name == name) return *source;
    if (!source->named) {
        const auto same = std::find_if(sources_.begin(), sources_.end(), [&](const auto& known) {
            return known->named && known->name == name && known.get() != source;
        });
        if (same == sources_.end()) {
            source->name = name;
            source->named = true;
            return *source;
        }
        // The named row takes this connection; the row known by its address goes if it is empty.
        Source* named = same->get();
        named->address = source->address;
        ++named->connections;
        named->disconnectedMs = -1;
        --source->connections;
        found->second = named;
        if (source->connections == 0 && source->passings == 0) {
            std::erase_if(sources_, [source](const auto& known) { return known.get() == source; });
        }
        return *named;
    }
    // A connection that changes its name: the new name gets a row of its own.
    --source->connections;
    if (source->connections == 0) source->disconnectedMs = -1;
    sources_.push_back(std::make_unique<Source>(Source{name, source->address, 1}));
    sources_.back()->named = true;
    found->second = sources_.back().get();
    return *sources_.back();
}

void SourceActivity::Roll(Source& source, std::int64_t minute) {
    const std::int64_t steps = minute - source.bucketMinute;
    if (steps <= 0) return;
    if (steps >= kMinutes) {
        source.buckets.fill(0);
    } else {
        std::rotate(source.buckets.begin(), source.buckets.begin() + steps, source.buckets.end());
        std::fill(source.buckets.end() - steps, source.buckets.end(), 0);
    }
    source.bucketMinute = minute;
}

void SourceActivity::OnPassings(ConnectionId connection, const std::string& name, std::size_t count,
                                std::int64_t nowMs) {
    if (count == 0) return;
    Source& source = SourceOf(connection, name);
    if (source.passings == 0 && source.bucketMinute == 0) source.bucketMinute = MinuteOf(nowMs);
    Roll(source, MinuteOf(nowMs));
    source.buckets.back() += static_cast<std::uint32_t>(count);
    source.passings += count;
    source.lastPassingMs = nowMs;
    source.quietSinceMs = nowMs;
    if (source.silent) {
        source.silent = false;
        Log(0, Format(Tr("+++ MyLaps source %s sends passings again",
                         "+++ La source MyLaps %s envoie de nouveau des passages"),
                      source.name.c_str()));
    }
}

std::optional<std::string> SourceActivity::SilenceText(const Source& source,
                                                       std::int64_t nowMs) const {
    if (source.connections == 0 && source.disconnectedMs >= 0) {
        const std::int64_t since = std::max(source.disconnectedMs, source.quietSinceMs);
        if (nowMs - since < kReconnectGraceMs) return std::nullopt;
        return Format(Tr("$$$ MyLaps source %s disconnected and is not back",
                         "$$$ La source MyLaps %s s'est déconnectée et n'est pas revenue"),
                      source.name.c_str());
    }
    if (source.passings == 0 || nowMs - source.quietSinceMs < silenceMinutes_ * kMinuteMs) {
        return std::nullopt;
    }
    return Format(Tr("$$$ MyLaps source %s has sent no passing for %d minutes",
                     "$$$ La source MyLaps %s n'a envoyé aucun passage depuis %d minutes"),
                  source.name.c_str(), silenceMinutes_);
}

void SourceActivity::Check(bool flowOpen, std::int64_t nowMs) {
    for (auto& source : sources_) {
        // Silence is counted while the flow is open only.
        if (!flowOpen) source->quietSinceMs = nowMs;
        if (!flowOpen || silenceMinutes_ == 0 || source->silent) continue;
        if (auto text = SilenceText(*source, nowMs)) {
            source->silent = true;
            Log(0, *text);
            if (notify_) notify_(text->substr(4));
        }
    }
}

std::vector<SourceSnapshot> SourceActivity::Snapshot(std::int64_t nowMs) const {
    std::vector<SourceSnapshot> snapshots;
    for (const auto& source : sources_) {
        Source rolled = *source;
        Roll(rolled, std::max(MinuteOf(nowMs), rolled.bucketMinute));
        SourceSnapshot& shot = snapshots.emplace_back();
        shot.name = source->name;
        shot.address = source->address;
        shot.connected = source->connections > 0;
        shot.passings = source->passings;
        if (source->passings > 0) shot.lastPassingMs = source->lastPassingMs;
        shot.perMinute = rolled.buckets;
        shot.silent = source->silent;
    }
    return snapshots;
}

std::vector<std::string> SourceActivity::SilentNames() const {
    std::vector<std::string> names;
    for (const auto& source : sources_) {
        if (source->silent) names.push_back(source->name);
    }
    return names;
}

}  // namespace torvane
