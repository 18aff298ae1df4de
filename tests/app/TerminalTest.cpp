#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include "TerminalSession.h"
#include "TorvaneProcess.h"

namespace torvane::test {
namespace {

const char* const kPrompt = "torvane> ";
const char* const kQuestion = "Etes vous sûr de fermer le flux des détections ? (o/n) ";

std::string ScreenText(const std::vector<std::string>& screen) {
    std::string text;
    for (const auto& line : screen) text += line + "\n";
    return text;
}

// One prompt per line, each followed by the command typed after it; only the last line is a
// prompt waiting for a command.
void ExpectOnePromptPerLine(const std::vector<std::string>& screen) {
    const std::string shown = ScreenText(screen);
    ASSERT_FALSE(screen.empty());
    EXPECT_EQ(screen.back() + " ", kPrompt) << shown;
    for (size_t i = 0; i + 1 < screen.size(); ++i) {
        const std::string& line = screen[i];
        const size_t at = line.find("torvane>");
        if (at == std::string::npos) continue;
        EXPECT_EQ(at, 0u) << "line " << i << ": " << line << "\n" << shown;
        EXPECT_EQ(line.find("torvane>", at + 1), std::string::npos) << line << "\n" << shown;
        EXPECT_GT(line.size(), std::string(kPrompt).size()) << "line " << i << "\n" << shown;
    }
}

// Headless Torvane on a pseudo-terminal, with line editing as an operator has it.
class TerminalTest : public ::testing::Test {
protected:
    void SetUp() override {
        folders.WriteIni("[MyLaps]\nPort=" + std::to_string(FreePort()) + "\n");
        QProcessEnvironment environment = folders.Environment();
        environment.insert("TERM", "xterm");
        ASSERT_TRUE(session.Start(environment, {"--headless"}));
        auto started = session.WaitFor("### Pas de table de correspondance", 0);
        ASSERT_TRUE(started) << session.Raw();
        mark = *started;
        ASSERT_TRUE(WaitForPrompt());
    }

    bool WaitForPrompt() { return Advance(kPrompt); }
    // Waits for text after the last mark and moves the mark past it.
    bool Advance(const std::string& text) {
        const auto found = session.WaitFor(text, mark);
        if (!found) return false;
        mark = *found;
        return true;
    }
    std::string FlowInStatus() {
        session.Type("status\r");
        if (!Advance("Flux des détections : ")) return "?";
        const size_t start = mark;
        if (!Advance("\n")) return "?";
        std::string word = session.Raw().substr(start, mark - start - 1);
        if (!word.empty() && word.back() == '\r') word.pop_back();
        return word;
    }

    TorvaneProcess folders;  // the data folder and the environment; the process runs below
    TerminalSession session;
    size_t mark = 0;
};

TEST_F(TerminalTest, ThePromptIsDrawnOnceAfterEachCommand) {
    for (const auto& [command, answer] : {std::pair{"status", "Détections en attente : 0"},
                                          std::pair{"level 25", "Niveau de traces mis à 25"},
                                          std::pair{"help", "arrêter Torvane"}}) {
        session.Type(std::string(command) + "\r");
        ASSERT_TRUE(Advance(answer)) << ScreenText(session.Screen());
        ASSERT_TRUE(WaitForPrompt());
    }
    ExpectOnePromptPerLine(session.Screen());
    session.Type("quit\r");
    EXPECT_EQ(session.WaitForExit(), 0);
}

TEST_F(TerminalTest, CloseAsksOnceBeforeReadingAndOnlyYesWordsClose) {
    const struct {
        const char* answer;
        bool closes;
    } cases[] = {
        {"o", true},     {"oui", true},   {"y", true},      {"yes", true}, {"OUI", true},
        {" Yes ", true}, {"n", false},    {"non", false},   {"no", false}, {"", false},
        {"ok", false},   {"yeah", false}, {"ouais", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("answer \"") + c.answer + "\"");
        session.Type("open\r");
        ASSERT_TRUE(Advance("Flux des détections ouvert.")) << session.Raw();
        ASSERT_TRUE(WaitForPrompt());
        session.Type("close\r");
        // The question is on the screen before anything is typed in answer.
        ASSERT_TRUE(Advance(kQuestion)) << ScreenText(session.Screen());
        session.Type(std::string(c.answer) + "\r");
        ASSERT_TRUE(WaitForPrompt());
        EXPECT_EQ(FlowInStatus(), c.closes ? "fermé" : "ouvert");
        ASSERT_TRUE(WaitForPrompt());
    }

    const auto screen = session.Screen();
    const std::string shown = ScreenText(screen);
    // Each question was drawn once, with its answer typed after it on the same line.
    size_t questionLine = 0;
    for (const auto& line : screen) {
        if (line.find("Etes vous sûr") == std::string::npos) continue;
        ASSERT_LT(questionLine, std::size(cases)) << shown;
        std::string expected = kQuestion + std::string(cases[questionLine].answer);
        expected.erase(expected.find_last_not_of(' ') + 1);
        EXPECT_EQ(line, expected) << shown;
        ++questionLine;
    }
    EXPECT_EQ(questionLine, std::size(cases)) << shown;

    ExpectOnePromptPerLine(screen);

    session.Type("quit\r");
    EXPECT_EQ(session.WaitForExit(), 0);
}

TEST_F(TerminalTest, TheEndOfInputOnTheTerminalLeavesItRunningUntilASignal) {
    session.Type("\x04");
    EXPECT_FALSE(session.WaitForExit(500));
    session.Signal(SIGTERM);
    EXPECT_EQ(session.WaitForExit(), 0);
    EXPECT_NE(ReadWholeFile(folders.LogPath()).find("*** Regular Torvane stop"), std::string::npos);
}

}  // namespace
}  // namespace torvane::test
