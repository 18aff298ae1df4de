#include "host/LinkStatusTable.h"

#include "base/Texts.h"

namespace torvane {
namespace {

constexpr int kDisconnectionSound = 163;
constexpr int kReadySound = 132;

std::string HostPart(HostLinkState hostState) {
    switch (hostState) {
        case HostLinkState::Disconnected:
            return Tr("Ostrak disconnected", "Déconnecté de Ostrak");
        case HostLinkState::Connecting:
            return Tr("Connecting to Ostrak", "Connexion à Ostrak en cours");
        case HostLinkState::Connected:
            break;
    }
    return Tr("Ostrak connected", "Connecté à Ostrak");
}

std::string MyLapsPart(MyLapsLinkState myLapsState) {
    return myLapsState == MyLapsLinkState::Waiting
               ? Tr("Waiting for MyLaps connection", "En attente de connexion MyLaps")
               : Tr("MyLaps connected", "Connecté à MyLaps");
}

int IconOf(bool flowOpen, HostLinkState hostState, MyLapsLinkState myLapsState) {
    // Rows are (host disconnected / connecting / connected) × (MyLaps waiting / connected);
    // connecting without MyLaps has no icon.
    static constexpr int kOpen[3][2] = {{132, 133}, {0, 130}, {131, 134}};
    static constexpr int kClosed[3][2] = {{141, 142}, {0, 140}, {143, 144}};
    const int row = static_cast<int>(hostState);
    const int column = myLapsState == MyLapsLinkState::Connected ? 1 : 0;
    return flowOpen ? kOpen[row][column] : kClosed[row][column];
}

}  // namespace

std::optional<LinkStatusRow> FindLinkStatusRow(bool flowOpen, HostLinkState hostState,
                                               MyLapsLinkState myLapsState) {
    const int host = static_cast<int>(hostState);
    const bool knownMyLaps =
        myLapsState == MyLapsLinkState::Waiting || myLapsState == MyLapsLinkState::Connected;
    if (host < 0 || host > 2 || !knownMyLaps) return {};
    LinkStatusRow row;
    row.iconId = IconOf(flowOpen, hostState, myLapsState);
    row.tip = HostPart(hostState) + "\n" + MyLapsPart(myLapsState);
    if (!flowOpen) row.tip += Tr("\nDetection flow is closed", "\nFlux des détections fermé");

    if (hostState == HostLinkState::Disconnected && myLapsState == MyLapsLinkState::Waiting) {
        row.balloon = Tr("Disconnection Ostrak - MyLaps", "Déconnexion Ostrak - MyLaps");
        row.soundId = kDisconnectionSound;
    } else if (hostState == HostLinkState::Connected && myLapsState == MyLapsLinkState::Connected) {
        row.balloon = flowOpen ? Tr("Connection Ostrak - MyLaps is ready",
                                    "Connexion Ostrak - MyLaps effectuée")
                               : Tr("Connection Ostrak - MyLaps is ready\nBut detection flow is "
                                    "closed",
                                    "Connexion Ostrak - MyLaps effectuée\nMais le flux des "
                                    "détections est fermé.");
        row.soundId = kReadySound;
    }
    return row;
}

}  // namespace torvane
