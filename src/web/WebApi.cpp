#include "web/WebApi.h"

#include <QFile>
#include <QJsonDocument>
#include <set>

#include "base/Clock.h"
#include "base/Logging.h"
#include "base/Texts.h"

namespace torvane {
namespace {

WebReply JsonReply(int status, const QJsonObject& object) {
    WebReply reply;
    reply.status = status;
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return reply;
}

WebReply OutcomeReply(const ControlPort::Outcome& outcome) {
    // A command that ran and refused (a bad span, nothing to disconnect) is a conflict.
    return JsonReply(outcome.ok ? 200 : 409,
                     {{"ok", outcome.ok}, {"message", QString::fromStdString(outcome.message)}});
}

// A whole number within [low, high] from the query, `fallback` when absent; nothing when bad.
std::optional<qint64> QueryNumber(const WebRequest& request, const char* key, qint64 low,
                                  qint64 high, qint64 fallback, QString& error) {
    if (!request.query.hasQueryItem(key)) return fallback;
    bool ok = false;
    const qint64 value = request.query.queryItemValue(key).toLongLong(&ok);
    if (!ok || value < low || value > high) {
        error = QString("%1 must be a whole number from %2 to %3").arg(key).arg(low).arg(high);
        return std::nullopt;
    }
    return value;
}

// The body as a JSON object holding only known fields; an empty body is an empty object.
std::optional<QJsonObject> BodyObject(const QByteArray& body, const std::set<QString>& fields,
                                      QString& error) {
    if (body.trimmed().isEmpty()) return QJsonObject();
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        error = parse.error != QJsonParseError::NoError ? "bad JSON: " + parse.errorString()
                                                        : QString("the body must be a JSON object");
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!fields.contains(it.key())) {
            error = "unknown field: " + it.key();
            return std::nullopt;
        }
    }
    return object;
}

const std::set<QString>& FieldsOf(const QString& path) {
    static const std::map<QString, std::set<QString>> fields{{"/api/v1/login", {"token"}},
                                                             {"/api/v1/flow", {"open"}},
                                                             {"/api/v1/replay", {"from", "to"}}};
    static const std::set<QString> none;
    const auto found = fields.find(path);
    return found == fields.end() ? none : found->second;
}

// A command's Origin, when the browser sends one, must be this page's own.
bool SameOrigin(const WebRequest& request) {
    const QByteArray origin = request.Header("origin");
    if (origin.isEmpty()) return true;  // not a browser: ctl, curl
    const QByteArray host = request.Header("host");
    return !host.isEmpty() && (origin == "http://" + host || origin == "https://" + host);
}

}  // namespace

WebReply ErrorReply(int status, const QString& text) {
    return JsonReply(status, {{"ok", false}, {"error", text}});
}

const WebApi::Route* WebApi::FindRoute(const QString& path) {
    static const Route routes[] = {
        {"/", "GET", Kind::Page, &WebApi::Page},
        {"/app.js", "GET", Kind::Page, &WebApi::Page},
        {"/style.css", "GET", Kind::Page, &WebApi::Page},
        {"/api/v1/login", "POST", Kind::Login, &WebApi::Login},
        {"/api/v1/status", "GET", Kind::Read, &WebApi::Status},
        {"/api/v1/detections", "GET", Kind::Read, &WebApi::Detections},
        {"/api/v1/results", "GET", Kind::Read, &WebApi::Results},
        {"/api/v1/log", "GET", Kind::Read, &WebApi::LogLines},
        {"/api/v1/export.csv", "GET", Kind::Read, &WebApi::Export},
        {"/api/v1/live-ticket", "POST", Kind::Command, &WebApi::LiveTicket},
        {"/api/v1/flow", "POST", Kind::Command, &WebApi::Flow},
        {"/api/v1/replay", "POST", Kind::Command, &WebApi::Replay},
        {"/api/v1/reload", "POST", Kind::Command, &WebApi::Reload},
        {"/api/v1/disconnect", "POST", Kind::Command, &WebApi::Disconnect},
        {"/api/v1/resend-unknown", "POST", Kind::Command, &WebApi::ResendUnknown},
        {"/api/v1/new-race", "POST", Kind::Command, &WebApi::NewRace},
    };
    for (const Route& route : routes) {
        if (path == route.path) return &route;
    }
    return nullptr;
}

WebReply WebApi::Handle(const WebRequest& request) {
    const Route* route = FindRoute(request.path);
    if (!route) return ErrorReply(404, "no such path: " + request.path);
    if (route->kind != Kind::Page && route->kind != Kind::Login && !auth_.Accepts(request)) {
        if (auth_.ShouldLogRefusal(request.peer, clock::NowMs())) {
            Log(25, Format(Tr("+ Web: request without a valid token from %s refused",
                              "+ Web : requête sans jeton valable de %s refusée"),
                           request.peer.toString().toStdString().c_str()));
        }
        return ErrorReply(401, "a valid token is needed (Authorization: Bearer TOKEN)");
    }
    if (request.method != route->method) {
        WebReply reply = ErrorReply(405, QString("use %1 for %2").arg(route->method, route->path));
        reply.headers.push_back({"Allow", route->method});
        return reply;
    }
    if (route->kind == Kind::Page || route->kind == Kind::Read)
        return (this->*route->handler)(request, {});
    if (!SameOrigin(request)) return ErrorReply(403, "a command must come from this page");
    if (request.body.size() > kMaxBody) return ErrorReply(413, "the body is over 64 KiB");
    QString error;
    const auto body = BodyObject(request.body, FieldsOf(request.path), error);
    if (!body) return ErrorReply(400, error);
    return (this->*route->handler)(request, *body);
}

WebReply WebApi::Page(const WebRequest& request, const QJsonObject&) {
    const QString name = request.path == "/" ? "/index.html" : request.path;
    QFile file(":/web" + name);
    if (!file.open(QIODevice::ReadOnly)) return ErrorReply(404, "no such page");
    WebReply reply;
    reply.body = file.readAll();
    if (name.endsWith(".html")) {
        reply.contentType = "text/html; charset=utf-8";
        reply.body.replace("{{LANG}}", english_ ? "en" : "fr");
        reply.headers.push_back({"Content-Security-Policy",
                                 "default-src 'self'; connect-src 'self' ws: wss:; "
                                 "img-src 'self' data:; frame-ancestors 'none'"});
    } else {
        reply.contentType =
            name.endsWith(".js") ? "text/javascript; charset=utf-8" : "text/css; charset=utf-8";
    }
    return reply;
}

WebReply WebApi::Login(const WebRequest& request, const QJsonObject& body) {
    if (!body.value("token").isString()) return ErrorReply(400, "token must be a text");
    if (!auth_.IsToken(body.value("token").toString().toUtf8())) {
        if (auth_.ShouldLogRefusal(request.peer, clock::NowMs())) {
            Log(25, Format(Tr("+ Web: wrong token from %s", "+ Web : mauvais jeton de %s"),
                           request.peer.toString().toStdString().c_str()));
        }
        return ErrorReply(401, "wrong token");
    }
    WebReply reply = JsonReply(200, {{"ok", true}});
    reply.headers.push_back({"Set-Cookie", QByteArray(WebAuth::kCookie) + "=" + auth_.NewSession() +
                                               "; Path=/; HttpOnly; SameSite=Strict"});
    return reply;
}

WebReply WebApi::Status(const WebRequest&, const QJsonObject&) {
    return JsonReply(200, control_.Status());
}

WebReply WebApi::Detections(const WebRequest& request, const QJsonObject&) {
    QString error;
    const auto limit = QueryNumber(request, "limit", 1, kMaxLimit, 50, error);
    const auto after =
        QueryNumber(request, "after", 0, std::numeric_limits<qint64>::max(), -1, error);
    if (!limit || !after) return ErrorReply(400, error);
    const auto rows = control_.Detections(
        *after >= 0 ? std::optional<std::int64_t>(*after) : std::nullopt, *limit, error);
    if (!rows) return ErrorReply(503, "the journal cannot be read: " + error);
    return JsonReply(
        200, {{"detections", *rows}, {"newest", static_cast<qint64>(control_.NewestSeq())}});
}

WebReply WebApi::Results(const WebRequest& request, const QJsonObject&) {
    QString error;
    const auto limit = QueryNumber(request, "limit", 1, kMaxLimit, 50, error);
    if (!limit) return ErrorReply(400, error);
    return JsonReply(200, {{"results", control_.Results(*limit)}});
}

WebReply WebApi::LogLines(const WebRequest& request, const QJsonObject&) {
    QString error;
    const auto limit = QueryNumber(request, "limit", 1, kMaxLimit, 100, error);
    const auto level = QueryNumber(request, "level", 0, 100, 100, error);
    if (!limit || !level) return ErrorReply(400, error);
    return JsonReply(200, {{"lines", control_.LogLines(*limit, *level)}});
}

WebReply WebApi::Export(const WebRequest&, const QJsonObject&) {
    QString error;
    WebReply reply;
    reply.stream = control_.ExportCsv(error);
    if (!reply.stream) return ErrorReply(503, "the journal cannot be read: " + error);
    reply.contentType = "text/csv; charset=utf-8";
    return reply;
}

WebReply WebApi::LiveTicket(const WebRequest&, const QJsonObject&) {
    return JsonReply(200, {{"ok", true}, {"ticket", QString(auth_.NewTicket(clock::NowMs()))}});
}

WebReply WebApi::Flow(const WebRequest&, const QJsonObject& body) {
    if (!body.value("open").isBool()) return ErrorReply(400, "open must be true or false");
    return OutcomeReply(control_.SetFlow(body.value("open").toBool()));
}

WebReply WebApi::Replay(const WebRequest&, const QJsonObject& body) {
    if (!body.value("from").isString() || (body.contains("to") && !body.value("to").isString())) {
        return ErrorReply(400, "from (and to) must be texts HH:MM[:SS]");
    }
    const auto to = body.contains("to")
                        ? std::optional<std::string>(body.value("to").toString().toStdString())
                        : std::nullopt;
    WebReply reply;
    reply.deferred = [this, from = body.value("from").toString().toStdString(),
                      to](std::function<void(WebReply)> answer) {
        control_.Replay(from, to,
                        [answer](ControlPort::Outcome outcome) { answer(OutcomeReply(outcome)); });
    };
    return reply;
}

WebReply WebApi::Reload(const WebRequest&, const QJsonObject&) {
    return OutcomeReply(control_.Reload());
}

WebReply WebApi::Disconnect(const WebRequest&, const QJsonObject&) {
    return OutcomeReply(control_.Disconnect());
}

WebReply WebApi::ResendUnknown(const WebRequest&, const QJsonObject&) {
    return OutcomeReply(control_.ResendUnknown());
}

WebReply WebApi::NewRace(const WebRequest&, const QJsonObject&) {
    return OutcomeReply(control_.NewRace());
}

}  // namespace torvane
