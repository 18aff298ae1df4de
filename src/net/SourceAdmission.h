#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/AddressRange.h"

namespace torvane {

// Who may be served: the allowed ranges and the most sources at once. A refused peer is named
// in the log once a minute per address at most; the refusals left out meanwhile are counted on
// that address's next line, so that a peer knocking in a loop cannot flood the log. Used by the
// accept thread only.
class SourceAdmission {
public:
    static constexpr std::int64_t kLogIntervalMs = 60000;
    // Addresses remembered at most; past this, those not refused for a minute are forgotten.
    static constexpr std::size_t kMaxRemembered = 4096;

    SourceAdmission(bool restrictPeers, std::vector<AddressRange> allowFrom, int maxSources);

    // Whether a peer (host byte order) may be served while `openConnections` are; a refusal is
    // logged as said above.
    bool Admit(std::uint32_t peer, int openConnections);

private:
    struct Refusals {
        std::int64_t loggedAtMs = 0;
        int unlogged = 0;  // refused since that line, not logged
    };
    void Refuse(std::uint32_t peer, const std::string& line);
    void ForgetOldRefusals(std::int64_t nowMs);

    bool restrictPeers_;
    std::vector<AddressRange> allowFrom_;
    int maxSources_;
    std::unordered_map<std::uint32_t, Refusals> refusals_;
};

}  // namespace torvane
