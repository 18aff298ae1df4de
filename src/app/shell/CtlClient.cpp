#include "app/shell/CtlClient.h"

#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "app/NewRace.h"
#include "app/shell/TerminalPorts.h"
#include "base/Texts.h"
#include "journal/JournalExport.h"
#include "web/WebSettings.h"

namespace torvane {
namespace {

constexpr int kCommandTimeoutMs = 15000;
constexpr int kExportTimeoutMs = 120000;

const char* CtlUsage() {
    return Tr(
        "Usage: torvane ctl status|open|close|replay FROM [TO]|export FILE [--journal KEPT]|"
        "reload|resend-unknown|new-race|disconnect",
        "Usage : torvane ctl status|open|close|replay DEBUT [FIN]|export FICHIER [--journal "
        "GARDE]|reload|resend-unknown|new-race|disconnect");
}

// A body sent with "Transfer-Encoding: chunked", joined again; empty when it is not one.
bool Dechunk(const std::string& chunked, std::string& body) {
    body.clear();
    std::size_t at = 0;
    while (at < chunked.size()) {
        const std::size_t lineEnd = chunked.find("\r\n", at);
        if (lineEnd == std::string::npos) return false;
        const std::size_t size = std::strtoul(chunked.c_str() + at, nullptr, 16);
        if (size == 0) return true;
        if (lineEnd + 2 + size > chunked.size()) return false;
        body.append(chunked, lineEnd + 2, size);
        at = lineEnd + 2 + size + 2;
    }
    return false;
}

// Whether the bytes hold a whole answer: its Content-Length, or the last chunk of a chunked one.
bool AnswerIsWhole(const std::string& raw) {
    const std::size_t headerEnd = raw.find("\r\n\r\n");
    if (headerEnd == std::string::npos) return false;
    std::string header = raw.substr(0, headerEnd);
    for (char& c : header) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t length = header.find("content-length:");
    if (length != std::string::npos) {
        return raw.size() >=
               headerEnd + 4 + std::strtoul(header.c_str() + length + 15, nullptr, 10);
    }
    // The last chunk follows the line end of the one before (or of the header block).
    return raw.size() >= headerEnd + 9 && raw.compare(raw.size() - 7, 7, "\r\n0\r\n\r\n") == 0;
}

std::string JsonText(const std::string& body, const char* key) {
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
    return object.value(key).toString().toStdString();
}

int Failure(const std::string& text, int code) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return code;
}

// On a terminal, the operator says yes first; without one (a script), the command goes.
bool Confirmed(const std::string& question) {
    if (!::isatty(STDIN_FILENO)) return true;
    std::cout << question << Tr(" (y/n) ", " (o/n) ") << std::flush;
    std::string answer;
    return std::getline(std::cin, answer) && IsYesAnswer(answer);
}

// A kept journal is a file of this computer: read here, for reading only, without Torvane.
int ExportKeptJournal(const std::string& kept, const std::string& csv) {
    const JournalReadResult written = ExportJournalCsv(kept, csv);
    if (!written.done) {
        return Failure(Format(Tr("$$$ The journal cannot be exported to %s (%s)",
                                 "$$$ Le journal des passages ne peut pas être exporté vers %s "
                                 "(%s)"),
                              csv.c_str(), written.error.c_str()),
                       1);
    }
    std::cout << Format(Tr("+++ Journal exported: %zu detections in %s",
                           "+++ Journal des passages exporté : %zu détections dans %s"),
                        written.rows, csv.c_str())
              << '\n';
    return 0;
}

}  // namespace

HttpAnswer HttpExchange(const std::string& address, int port, const std::string& method,
                        const std::string& path, const std::string& token, const std::string& body,
                        int timeoutMs) {
    QTcpSocket socket;
    socket.connectToHost(QString::fromStdString(address), static_cast<quint16>(port));
    if (!socket.waitForConnected(3000)) return {};
    std::string request =
        method + " " + path + " HTTP/1.1\r\nHost: " + address + ":" + std::to_string(port) +
        "\r\nAuthorization: Bearer " + token +
        "\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    if (!body.empty()) request += "Content-Type: application/json\r\n";
    request += "\r\n" + body;
    socket.write(request.data(), static_cast<qint64>(request.size()));
    std::string raw;
    while (!AnswerIsWhole(raw) && socket.state() == QAbstractSocket::ConnectedState &&
           socket.waitForReadyRead(timeoutMs)) {
        raw += socket.readAll().toStdString();
    }
    HttpAnswer answer;
    const std::size_t headerEnd = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.", 0) != 0 || headerEnd == std::string::npos) return answer;
    answer.status = std::atoi(raw.c_str() + raw.find(' ') + 1);
    std::string header = raw.substr(0, headerEnd);
    for (char& c : header) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    answer.body = raw.substr(headerEnd + 4);
    if (header.find("transfer-encoding: chunked") != std::string::npos) {
        std::string joined;
        if (!Dechunk(answer.body, joined)) answer.status = 0;  // cut short
        answer.body = std::move(joined);
    }
    return answer;
}

int RunCtl(const std::vector<std::string>& arguments) {
    const std::string command = arguments.empty() ? std::string() : arguments[0];
    std::string method = "POST", path, body;
    if (command == "status" && arguments.size() == 1) {
        method = "GET";
        path = "/api/v1/status";
    } else if ((command == "open" || command == "close") && arguments.size() == 1) {
        if (command == "close" &&
            !Confirmed(Tr("Are you sure you want to close the detection flow?",
                          "Etes vous sûr de fermer le flux des détections ?"))) {
            return 0;
        }
        path = "/api/v1/flow";
        body = command == "open" ? "{\"open\":true}" : "{\"open\":false}";
    } else if (command == "replay" && (arguments.size() == 2 || arguments.size() == 3)) {
        path = "/api/v1/replay";
        QJsonObject span{{"from", QString::fromStdString(arguments[1])}};
        if (arguments.size() == 3) span["to"] = QString::fromStdString(arguments[2]);
        body = QJsonDocument(span).toJson(QJsonDocument::Compact).toStdString();
    } else if (command == "export" && arguments.size() == 2) {
        method = "GET";
        path = "/api/v1/export.csv";
    } else if (command == "export" && arguments.size() == 4 && arguments[2] == "--journal") {
        return ExportKeptJournal(arguments[3], arguments[1]);
    } else if (command == "new-race" && arguments.size() == 1) {
        if (!Confirmed(NewRaceQuestion())) return 0;
        path = "/api/v1/new-race";
    } else if ((command == "reload" || command == "disconnect" || command == "resend-unknown") &&
               arguments.size() == 1) {
        path = "/api/v1/" + command;
    } else {
        return Failure(CtlUsage(), 1);
    }

    const auto address = ReadWebAddressFile();
    const std::string token = ReadWebToken();
    if (!address || token.empty()) {
        return Failure(Tr("No Torvane answers: is it running, with its web page on ([Web] Port)?",
                          "Aucun Torvane ne répond : tourne-t-il, avec sa page web ([Web] Port) ?"),
                       2);
    }
    const HttpAnswer answer =
        HttpExchange(address->address, address->port, method, path, token, body,
                     command == "export" ? kExportTimeoutMs : kCommandTimeoutMs);
    if (answer.status == 0) {
        return Failure(
            Format(Tr("No Torvane answers on %s port %d", "Aucun Torvane ne répond sur %s port %d"),
                   address->address.c_str(), address->port),
            2);
    }
    if (answer.status == 401) {
        return Failure(Tr("Torvane refuses the token of the settings file ([Web] Token)",
                          "Torvane refuse le jeton du fichier de réglages ([Web] Token)"),
                       1);
    }
    if (command == "status" && answer.status == 200) {
        std::cout << JsonText(answer.body, "text") << '\n';
        return 0;
    }
    if (command == "export" && answer.status == 200) {
        std::ofstream file(arguments[1], std::ios::binary | std::ios::trunc);
        file << answer.body;
        if (!file.flush()) {
            return Failure(
                Format(Tr("$$$ The journal cannot be exported to %s (%s)",
                          "$$$ Le journal des passages ne peut pas être exporté vers %s (%s)"),
                       arguments[1].c_str(), std::strerror(errno)),
                1);
        }
        std::size_t rows = 0;
        for (char c : answer.body) rows += c == '\n';
        std::cout << Format(Tr("+++ Journal exported: %zu detections in %s",
                               "+++ Journal des passages exporté : %zu détections dans %s"),
                            rows > 0 ? rows - 1 : 0, arguments[1].c_str())
                  << '\n';
        return 0;
    }
    const std::string message = JsonText(answer.body, "message");
    const std::string text = message.empty() ? JsonText(answer.body, "error") : message;
    if (answer.status == 200) {
        std::cout << text << '\n';
        return 0;
    }
    return Failure(text, 1);
}

}  // namespace torvane
