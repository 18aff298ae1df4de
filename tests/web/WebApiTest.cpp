#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QWebSocket>
#include <future>
#include <regex>

#include "journal/JournalExport.h"
#include "support/CoreHarness.h"
#include "support/LoopbackSockets.h"
#include "web/CoreControl.h"
#include "web/WebServer.h"

namespace torvane {
namespace {

using test::ConnectToLoopback;
using test::SendBytes;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

// A view of the program that records the commands it is given.
class RecordingControl : public ControlPort {
public:
    QJsonObject Status() override { return {{"flow", flowOpen ? "open" : "closed"}}; }
    std::int64_t NewestSeq() override { return newest; }
    std::optional<QJsonArray> Detections(std::optional<std::int64_t>, int, QString&) override {
        return QJsonArray();
    }
    QJsonArray Results(int) override { return {}; }
    QJsonArray LogLines(int, int) override { return {}; }
    std::unique_ptr<QIODevice> ExportCsv(QString& error) override {
        error = "no journal";
        return nullptr;
    }
    Outcome SetFlow(bool open) override {
        flowOpen = open;
        return {true, open ? "Flux des détections ouvert." : "Flux des détections fermé."};
    }
    void Replay(const std::string& from, const std::optional<std::string>&,
                std::function<void(Outcome)> done) override {
        done({false, "Usage : replay " + from});
    }
    Outcome Reload() override { return {true, "reloaded"}; }
    Outcome Disconnect() override { return {false, "Rien n'est connecté."}; }
    Outcome ResendUnknown() override { return {true, "resent"}; }
    Outcome NewRace() override {
        return {false, "$$$ Nouvelle course refusée : 3 détections attendent encore Ostrak Pro"};
    }

    bool flowOpen = true;
    std::int64_t newest = 0;
};

// Runs `work` on a thread of its own while this thread serves the requests.
template <typename Work>
auto WhileServing(Work work) {
    auto done = std::async(std::launch::async, work);
    while (done.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done.get();
}

// Sends the bytes and reads until the answer is whole (its length, or the peer's close).
std::string Exchange(int port, const std::string& request, int timeoutMs = 5000) {
    return WhileServing([=] {
        test::SocketFd fd = ConnectToLoopback(port);
        if (!fd.IsOpen() || !SendBytes(fd.Get(), request)) return std::string("no connection");
        std::string answer;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            answer += test::ReceiveFor(fd.Get(), 50);
            const std::size_t end = answer.find("\r\n\r\n");
            std::smatch length;
            if (end != std::string::npos &&
                std::regex_search(answer, length, std::regex("Content-Length: (\\d+)")) &&
                answer.size() >= end + 4 + std::stoul(length[1])) {
                break;
            }
            if (answer.ends_with("\r\n0\r\n\r\n")) break;  // the last chunk
        }
        return answer;
    });
}

int StatusOf(const std::string& answer) {
    return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::stoi(answer.substr(9, 3)) : 0;
}

std::string Request(const std::string& method, const std::string& path, const std::string& headers,
                    const std::string& body = "") {
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string kBearer = std::string("Authorization: Bearer ") + kToken + "\r\n";

class WebApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(server.Start(QHostAddress::LocalHost, 0, error)) << error.toStdString();
        port = server.Port();
    }
    RecordingControl control;
    WebServer server{control, kToken, false};
    int port = 0;
};

struct ErrorCase {
    const char* name;
    std::string request;
    int status;
    const char* body;  // in the answer
};

void PrintTo(const ErrorCase& c, std::ostream* out) {
    *out << c.name;
}

class WebApiErrorTest : public WebApiTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(WebApiErrorTest, AnswersWithItsCodeAndAMessage) {
    const ErrorCase& c = GetParam();
    const std::string answer = Exchange(port, c.request);
    EXPECT_EQ(StatusOf(answer), c.status) << answer;
    EXPECT_NE(answer.find(c.body), std::string::npos) << answer;
    // Nothing refused changed the program.
    EXPECT_TRUE(control.flowOpen);
}

const std::string kPost = "Content-Type: application/json\r\n" + kBearer;

INSTANTIATE_TEST_SUITE_P(
    Cases, WebApiErrorTest,
    ::testing::Values(
        ErrorCase{"UnknownPath", Request("GET", "/api/v1/nothing", kBearer), 404, "no such path"},
        ErrorCase{"NoToken", Request("GET", "/api/v1/status", ""), 401, "valid token"},
        ErrorCase{"WrongToken", Request("GET", "/api/v1/status", "Authorization: Bearer 0123\r\n"),
                  401, "valid token"},
        ErrorCase{"TokenInTheUrl",
                  Request("GET", std::string("/api/v1/status?token=") + kToken, ""), 401,
                  "valid token"},
        ErrorCase{"UnknownCookie",
                  Request("GET", "/api/v1/status", "Cookie: torvane_session=abc\r\n"), 401,
                  "valid token"},
        ErrorCase{"CommandByGet", Request("GET", "/api/v1/flow", kBearer), 405, "use POST"},
        ErrorCase{"ReadByPost", Request("POST", "/api/v1/status", kPost, "{}"), 405, "use GET"},
        ErrorCase{"OtherOrigin",
                  Request("POST", "/api/v1/flow", kPost + "Origin: http://evil.example\r\n",
                          "{\"open\":false}"),
                  403, "this page"},
        ErrorCase{"BadJson", Request("POST", "/api/v1/flow", kPost, "{\"open\":"), 400, "bad JSON"},
        ErrorCase{"NotAnObject", Request("POST", "/api/v1/flow", kPost, "[false]"), 400,
                  "JSON object"},
        ErrorCase{"UnknownField",
                  Request("POST", "/api/v1/flow", kPost, "{\"open\":false,\"force\":1}"), 400,
                  "unknown field: force"},
        ErrorCase{"WrongType", Request("POST", "/api/v1/flow", kPost, "{\"open\":\"no\"}"), 400,
                  "true or false"},
        ErrorCase{"ReplayWithoutStart",
                  Request("POST", "/api/v1/replay", kPost, "{\"to\":\"10:00\"}"), 400, "from"},
        ErrorCase{"BadLimit", Request("GET", "/api/v1/detections?limit=0", kBearer), 400,
                  "limit must be"},
        ErrorCase{"BadAfter", Request("GET", "/api/v1/detections?after=x", kBearer), 400,
                  "after must be"},
        ErrorCase{"BadLevel", Request("GET", "/api/v1/log?level=101", kBearer), 400,
                  "level must be"},
        ErrorCase{"BodyOver64KiB",
                  kPost.substr(0, 0) + "POST /api/v1/flow HTTP/1.1\r\nHost: x\r\n" + kBearer +
                      "Content-Length: 70000\r\n\r\n{",
                  413, "Too Large"},
        ErrorCase{"HeaderOver16KiB",
                  "GET /api/v1/status HTTP/1.1\r\nX-Filler: " + std::string(20000, 'a'), 431,
                  "Too Large"},
        ErrorCase{"CommandThatFails", Request("POST", "/api/v1/replay", kPost, "{\"from\":\"x\"}"),
                  409, "Usage : replay x"},
        ErrorCase{"NewRaceWhileLinesWait", Request("POST", "/api/v1/new-race", kPost), 409,
                  "attendent encore Ostrak Pro"},
        ErrorCase{"NewRaceWithAField", Request("POST", "/api/v1/new-race", kPost, "{\"a\":1}"), 400,
                  "unknown field: a"},
        ErrorCase{"JournalUnreadable", Request("GET", "/api/v1/export.csv", kBearer), 503,
                  "no journal"},
        ErrorCase{"WrongLogin", Request("POST", "/api/v1/login", "", "{\"token\":\"nope\"}"), 401,
                  "wrong token"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WebApiTest, TheLoginCookieOpensTheApiAndCommandsAnswerAsTheTerminal) {
    const std::string login =
        Exchange(port, Request("POST", "/api/v1/login", "Origin: http://127.0.0.1\r\n",
                               std::string("{\"token\":\"") + kToken + "\"}"));
    std::smatch cookie;
    ASSERT_TRUE(std::regex_search(login, cookie,
                                  std::regex("Set-Cookie: (torvane_session=[0-9a-f]+);"
                                             " Path=/; HttpOnly; SameSite=Strict")))
        << login;
    const std::string session = "Cookie: " + cookie[1].str() + "\r\n";
    EXPECT_EQ(StatusOf(Exchange(port, Request("GET", "/api/v1/status", session))), 200);

    const std::string closed =
        Exchange(port, Request("POST", "/api/v1/flow", session + "Origin: http://127.0.0.1\r\n",
                               "{\"open\":false}"));
    EXPECT_EQ(StatusOf(closed), 200) << closed;
    EXPECT_NE(closed.find("{\"message\":\"Flux des détections fermé.\",\"ok\":true}"),
              std::string::npos);
    EXPECT_FALSE(control.flowOpen);
}

TEST_F(WebApiTest, ThePageComesFromTheProgramsResourcesInItsLanguage) {
    const std::string page = Exchange(port, Request("GET", "/", ""));
    EXPECT_EQ(StatusOf(page), 200);
    EXPECT_NE(page.find("<html lang=\"fr\">"), std::string::npos);
    EXPECT_NE(page.find("Content-Security-Policy: default-src 'self'"), std::string::npos);
    EXPECT_EQ(StatusOf(Exchange(port, Request("GET", "/app.js", ""))), 200);
}

// A client that sends part of a request and then nothing is cut off, and the others are served
// meanwhile.
TEST_F(WebApiTest, ASlowClientIsCutOffAndStallsNoOne) {
    auto slow = std::async(std::launch::async, [this] {
        test::SocketFd fd = ConnectToLoopback(port);
        SendBytes(fd.Get(), "GET /api/v1/status HTTP/1.1\r\nHost: x\r\n");
        std::this_thread::sleep_for(std::chrono::seconds(3));
        SendBytes(fd.Get(), "X");
        return test::ReceiveFor(fd.Get(), 15000);
    });
    EXPECT_EQ(StatusOf(Exchange(port, Request("GET", "/api/v1/status", kBearer))), 200);
    const std::string cut = WhileServing([&] { return slow.get(); });
    EXPECT_EQ(StatusOf(cut), 408) << cut;
}

TEST_F(WebApiTest, LiveUpdatesNeedATicketAndCarryTheNewestDetection) {
    const std::string answer = Exchange(port, Request("POST", "/api/v1/live-ticket", kBearer));
    std::smatch ticket;
    ASSERT_TRUE(std::regex_search(answer, ticket, std::regex("\"ticket\":\"([0-9a-f]+)\"")));
    control.newest = 42;

    QWebSocket good, bad;
    QStringList received;
    bool badClosed = false;
    QObject::connect(&good, &QWebSocket::connected,
                     [&] { good.sendTextMessage(QString::fromStdString(ticket[1].str())); });
    QObject::connect(&good, &QWebSocket::textMessageReceived,
                     [&](const QString& text) { received << text; });
    QObject::connect(&bad, &QWebSocket::connected, [&] { bad.sendTextMessage("not-a-ticket"); });
    QObject::connect(&bad, &QWebSocket::disconnected, [&] { badClosed = true; });
    const QUrl url(QString("ws://127.0.0.1:%1/api/v1/live").arg(port));
    good.open(url);
    bad.open(url);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((received.isEmpty() || !badClosed) && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    ASSERT_FALSE(received.isEmpty());
    EXPECT_TRUE(received[0].contains("\"newest\":42")) << received[0].toStdString();
    EXPECT_TRUE(badClosed);
    EXPECT_EQ(server.LiveClients(), 1);
}

std::string Dechunked(const std::string& answer) {
    std::string body;
    for (std::size_t at = answer.find("\r\n\r\n") + 4; at < answer.size();) {
        const std::size_t lineEnd = answer.find("\r\n", at);
        const std::size_t size = std::stoul(answer.substr(at, lineEnd - at), nullptr, 16);
        if (size == 0) break;
        body += answer.substr(lineEnd + 2, size);
        at = lineEnd + 2 + size + 2;
    }
    return body;
}

JournalEntry Entry(const std::string& chip, const std::string& bib) {
    JournalEntry entry;
    entry.source = "Loop1";
    entry.record = chip + "12:00:00.000            261208";
    entry.token = "1";
    entry.receivedUtcMs = 1'796'000'000'000;
    entry.chip = chip;
    entry.bib = bib;
    entry.raceTime = chip.empty() ? "" : "12:00:00.00";
    return entry;
}

// The program's own journal, read by the API through a connection of its own while the program
// holds it open, and the export streamed from it as `export` writes it.
TEST(WebJournalTest, DetectionsAndTheExportComeFromTheJournal) {
    test::CoreHarness harness;
    harness.core().LoadGeneralSettings();
    ASSERT_TRUE(harness.core().OpenJournal());
    Journal& journal = harness.core().PassingJournal();
    const auto sent = journal.Add(Entry("KV00001", "101"));
    const auto replayed = journal.Add(Entry("KV00002", "KV00002"));
    journal.Add(Entry("", ""));
    const auto waiting = journal.Add(Entry("KV00003", "103"));
    journal.AddHostLine(sent, "line 1");
    const auto second = journal.AddHostLine(replayed, "line 2");
    journal.MarkSent(second, 1'796'000'001'000);
    journal.AddHostLine(waiting, "line 3");
    journal.AddHostLine(replayed, "line 2 again");
    std::string error;
    ASSERT_TRUE(journal.Commit(error)) << error;

    CoreControl control(harness.core());
    WebServer server(control, kToken, false);
    QString listenError;
    ASSERT_TRUE(server.Start(QHostAddress::LocalHost, 0, listenError));
    const std::string detections =
        Exchange(server.Port(), Request("GET", "/api/v1/detections?after=1&limit=2", kBearer));
    EXPECT_NE(detections.find("\"bib\":null,\"chip\":\"KV00002\""), std::string::npos)
        << detections;
    const std::regex states("\"seq\":(\\d),\"source\":\"Loop1\",\"state\":\"(\\w+)\"");
    std::string seen;
    for (std::sregex_iterator it(detections.begin(), detections.end(), states), end; it != end;
         ++it) {
        seen += (*it)[1].str() + (*it)[2].str() + " ";
    }
    EXPECT_EQ(seen, "2resend 3not_forwarded ");
    const std::string newest =
        Exchange(server.Port(), Request("GET", "/api/v1/detections?limit=2", kBearer));
    EXPECT_NE(newest.find("\"seq\":4,\"source\":\"Loop1\",\"state\":\"waiting\""),
              std::string::npos);
    EXPECT_EQ(newest.find("\"seq\":1,"), std::string::npos) << newest;

    const std::string path = harness.folders.DataFolder() + "/export.csv";
    ASSERT_TRUE(ExportJournalCsv(journal.Path(), path).done);
    const std::string streamed =
        Dechunked(Exchange(server.Port(), Request("GET", "/api/v1/export.csv", kBearer)));
    EXPECT_EQ(streamed, test::ReadFile(path));
    EXPECT_NE(streamed.find(",KV00001,101,12:00:00.00,2026-"), std::string::npos) << streamed;
}

}  // namespace
}  // namespace torvane
