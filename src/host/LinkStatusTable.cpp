#include "host/LinkStatusTable.h"

#include "app/Texts.h"

namespace torvane {
namespace {

constexpr int kDisconnectionSound = 163;
constexpr int kReadySound = 132;

std::string HostPart(int hostState) {
    switch (hostState) {
        case 0:
            return Tr("Ostrak disconnected", "Déconnecté de Ostrak");
        case 1:
            return Tr("Connecting to Ostrak", "Connexion à Ostrak en cours");
        default:
            return Tr("Ostrak connected", "Connecté à Ostrak");
    }
}

std::string MyLapsPart(int myLapsState) {
    return myLapsState == 0 ? Tr("Waiting for MyLaps connection", "En attente de connexion MyLaps")
                            : Tr("MyLaps connected", "Connecté à MyLaps");
}

int IconOf(bool flowOpen, int hostState, int myLapsState) {
    // Rows are (host 0 / 1 / 2) × (MyLaps 0 / 2); host 1 without MyLaps has no icon.
    static constexpr int kOpen[3][2] = {{132, 133}, {0, 130}, {131, 134}};
    static constexpr int kClosed[3][2] = {{141, 142}, {0, 140}, {143, 144}};
    const int column = myLapsState == 2 ? 1 : 0;
    return flowOpen ? kOpen[hostState][column] : kClosed[hostState][column];
}

}  // namespace

std::optional<LinkStatusRow> FindLinkStatusRow(bool flowOpen, int hostState, int myLapsState) {
    if (hostState < 0 || hostState > 2 || (myLapsState != 0 && myLapsState != 2)) return {};
    LinkStatusRow row;
    row.iconId = IconOf(flowOpen, hostState, myLapsState);
    row.tip = HostPart(hostState) + "\n" + MyLapsPart(myLapsState);
    if (!flowOpen) row.tip += Tr("\nDetection flow is closed", "\nFlux des détections fermé");

    if (hostState == 0 && myLapsState == 0) {
        row.balloon = Tr("Disconnection Ostrak - MyLaps", "Déconnexion Ostrak - MyLaps");
        row.soundId = kDisconnectionSound;
    } else if (hostState == 2 && myLapsState == 2) {
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
