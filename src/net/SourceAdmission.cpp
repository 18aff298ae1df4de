#include "net/SourceAdmission.h"

#include "base/Clock.h"
#include "base/Logging.h"
#include "base/Texts.h"

namespace torvane {

SourceAdmission::SourceAdmission(bool restrictPeers, std::vector<AddressRange> allowFrom,
                                 int maxSources)
    : restrictPeers_(restrictPeers), allowFrom_(std::move(allowFrom)), maxSources_(maxSources) {}

bool SourceAdmission::Admit(std::uint32_t peer, int openConnections) {
    if (restrictPeers_ && !IsAllowed(allowFrom_, peer)) {
        Refuse(peer, Format(Tr("$$$ MyLaps connection from %s refused: not an allowed address "
                               "([MyLaps] AllowFrom)",
                               "$$$ Connexion MyLaps de %s refusée : adresse non autorisée "
                               "([MyLaps] AllowFrom)"),
                            AddressText(peer).c_str()));
        return false;
    }
    if (openConnections >= maxSources_) {
        Refuse(peer, Format(Tr("$$$ MyLaps connection from %s refused: %d sources are connected "
                               "already ([MyLaps] MaxSources)",
                               "$$$ Connexion MyLaps de %s refusée : %d sources sont déjà "
                               "connectées ([MyLaps] MaxSources)"),
                            AddressText(peer).c_str(), maxSources_));
        return false;
    }
    return true;
}

void SourceAdmission::Refuse(std::uint32_t peer, const std::string& line) {
    const std::int64_t now = clock::NowMs();
    if (refusals_.size() >= kMaxRemembered) ForgetOldRefusals(now);
    const auto [it, first] = refusals_.try_emplace(peer);
    Refusals& refusals = it->second;
    // A clock set back counts as a minute gone by.
    const std::int64_t since = now - refusals.loggedAtMs;
    if (!first && since >= 0 && since < kLogIntervalMs) {
        ++refusals.unlogged;
        return;
    }
    if (refusals.unlogged > 0) {
        Log(0, line + Format(Tr(" (and %d more refused since the last line)",
                                " (et %d autres refusées depuis la ligne précédente)"),
                             refusals.unlogged));
    } else {
        Log(0, line);
    }
    refusals = {now, 0};
}

// The count of an address forgotten here is lost: only a flood from thousands of addresses at
// once gets this far, and its first line of each address was logged.
void SourceAdmission::ForgetOldRefusals(std::int64_t nowMs) {
    std::erase_if(refusals_, [nowMs](const auto& entry) {
        return nowMs - entry.second.loggedAtMs >= kLogIntervalMs;
    });
    if (refusals_.size() >= kMaxRemembered) refusals_.clear();
}

}  // namespace torvane
