#include <gtest/gtest.h>

#include "host/HostAnswerDecoder.h"

namespace torvane {
namespace {

struct CodeCase {
    int code;
    std::string text;
};

// Rows chosen where a mix-up is likely: texts shared by several codes, rows out of numeric order,
// neighbours of gaps, and the fallback for codes just outside the table.
TEST(HostResultTextsTest, ResultCodeTexts) {
    const std::vector<CodeCase> cases = {
        {-1, "IR_RUNNER_COURSE_NULL"},
        {-2, "Id. puce non trouvé"},
        {-5, "Coureur inconnu"},
        {202, "Coureur inconnu"},
        {-7, "Détection refusée pour le coureur"},
        {-9, "Détection rejetée par la course"},
        {-11, "Détection refusée pour ce numéro de dossard rejeté"},
        {-8, "Temps de contrôle"},
        {0, "Temps du coureur inchangé"},
        {3, "Temps pris en compte pour le coureur"},
        {4, "Coureur marqué comme ayant pris le départ"},
        {-20, "Code inconnu"},
        {102, "Aucune compétition/course/coureur"},
        {103, "Commande inconnue"},
        {106, "Pas de résultat"},
        {301, "Détections suspendues"},
        {5, "Status inconnu (5)"},
        {-12, "Status inconnu (-12)"},
        {-21, "Status inconnu (-21)"},
        {107, "Status inconnu (107)"},
    };
    for (const CodeCase& testCase : cases) {
        EXPECT_EQ(ResultCodeText(testCase.code), testCase.text) << "code " << testCase.code;
    }
}

TEST(HostResultTextsTest, CommandNames) {
    const std::vector<CodeCase> cases = {
        {0, "DETCMD_UNKNOWN"},
        {4, "DETCMD_DISPLAY_DETECTOR"},
        {5, "Nom de la compétition"},
        {7, "Liste des détecteurs"},
        {8, "Liste des courses"},
        {20, "Ping"},
        {23, "DETCMD_WINDAG_EXPEDITION"},
        {25, "Utilisateur"},
        {27, "Version"},
        {28, "Printable Version"},
        {49, "Commande inconnue"},
        {9, "Commande inconnue"},
        {26, "Commande inconnue"},
        {-1, "Commande inconnue"},
    };
    for (const CodeCase& testCase : cases) {
        EXPECT_EQ(CommandNumberName(testCase.code), testCase.text) << "number " << testCase.code;
    }
}

struct OrdinalCase {
    int rank;
    std::string label;
    std::string french;
    std::string english;
};

TEST(HostResultTextsTest, OrdinalsInBothLanguages) {
    const std::vector<OrdinalCase> cases = {
        {1, "F20", "1ère", "1st"},  {1, "M40", "1er", "1st"},     {1, "Elite", "1ème", "1st"},
        {1, "", "1ème", "1st"},     {1, "f20", "1ème", "1st"},    {2, "F20", "2ème", "2nd"},
        {3, "M", "3ème", "3rd"},    {4, "F", "4ème", "4th"},      {10, "M", "10ème", "10th"},
        {11, "F", "11ème", "11st"}, {12, "F", "12ème", "12nd"},   {13, "M", "13ème", "13rd"},
        {21, "F", "21ème", "21st"}, {102, "", "102ème", "102nd"}, {0, "F", "?ème", "?th"},
        {0, "M", "?ème", "?th"},
    };
    for (const OrdinalCase& testCase : cases) {
        EXPECT_EQ(OrdinalText(testCase.rank, testCase.label, true), testCase.french)
            << testCase.rank << " " << testCase.label;
        EXPECT_EQ(OrdinalText(testCase.rank, testCase.label, false), testCase.english)
            << testCase.rank << " " << testCase.label;
    }
}

}  // namespace
}  // namespace torvane
