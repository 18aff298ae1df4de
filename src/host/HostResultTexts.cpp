#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "base/Texts.h"
#include "host/HostAnswerDecoder.h"

namespace torvane {

namespace {

struct CodeText {
    int code;
    const char* text;
};

// Searched in this order; the first row with the code wins. The texts are the host's own and
// exist in one language only.
constexpr CodeText kResultCodeTexts[] = {
    {-1, "IR_RUNNER_COURSE_NULL"},
    {-2, "Id. puce non trouvé"},
    {-3, "IR_RUNNER_TABLE_FULL"},
    {-4, "IR_RUNNER_TIME_SKIPPED"},
    {-5, "Coureur inconnu"},
    {-6, "Nombre max de passages atteint"},
    {-7, "Détection refusée pour le coureur"},
    {-9, "Détection rejetée par la course"},
    {-10, "Détection de départ rejetée"},
    {-11, "Détection refusée pour ce numéro de dossard rejeté"},
    {-8, "Temps de contrôle"},
    {0, "Temps du coureur inchangé"},
    {1, "Temps du coureur corrigé"},
    {2, "Temps du coureur modifié"},
    {3, "Temps pris en compte pour le coureur"},
    {4, "Coureur marqué comme ayant pris le départ"},
    {-20, "Code inconnu"},
    {101, "Erreur interne"},
    {102, "Aucune compétition/course/coureur"},
    {103, "Commande inconnue"},
    {104, "Commande invalide"},
    {105, "Résultat"},
    {106, "Pas de résultat"},
    {201, "Détecteur inconnu"},
    {202, "Coureur inconnu"},
    {301, "Détections suspendues"},
};

constexpr CodeText kCommandNames[] = {
    {0, "DETCMD_UNKNOWN"},
    {1, "DETCMD_PUSH_TIME"},
    {2, "DETCMD_GET_DAG"},
    {3, "DETCMD_GET_BIB_NUMBER"},
    {4, "DETCMD_DISPLAY_DETECTOR"},
    {5, "Nom de la compétition"},
    {6, "Nom du fichier"},
    {7, "Liste des détecteurs"},
    {8, "Liste des courses"},
    {20, "Ping"},
    {21, "DETCMD_WINDAG_LOCK"},
    {22, "DETCMD_WINDAG_UNLOCK"},
    {23, "DETCMD_WINDAG_EXPEDITION"},
    {24, "Application"},
    {25, "Utilisateur"},
    {27, "Version"},
    {28, "Printable Version"},
    {49, "Commande inconnue"},
};

template <size_t N>
const char* FindCodeText(const CodeText (&table)[N], int code) {
    const auto row =
        std::find_if(std::begin(table), std::end(table),
                     [code](const CodeText& candidate) { return candidate.code == code; });
    return row == std::end(table) ? nullptr : row->text;
}

std::string FrenchOrdinal(int rank, const std::string& groupLabel) {
    if (rank == 0) return "?ème";
    if (rank == 1 && groupLabel.starts_with('F')) return "1ère";
    if (rank == 1 && groupLabel.starts_with('M')) return "1er";
    return Format("%dème", rank);
}

// The suffix follows the last digit alone, so 11, 12 and 13 read 11st, 12nd and 13rd.
std::string EnglishOrdinal(int rank) {
    if (rank == 0) return "?th";
    switch (std::abs(rank % 10)) {
        case 1:
            return Format("%dst", rank);
        case 2:
            return Format("%dnd", rank);
        case 3:
            return Format("%drd", rank);
        default:
            return Format("%dth", rank);
    }
}

}  // namespace

std::string ResultCodeText(int code) {
    if (const char* text = FindCodeText(kResultCodeTexts, code)) return text;
    return Format(Tr("unknown status (%d)", "Status inconnu (%d)"), code);
}

std::string CommandNumberName(int number) {
    if (const char* name = FindCodeText(kCommandNames, number)) return name;
    return Tr("unknown command", "Commande inconnue");
}

std::string OrdinalText(int rank, const std::string& groupLabel, bool french) {
    return french ? FrenchOrdinal(rank, groupLabel) : EnglishOrdinal(rank);
}

}  // namespace torvane
