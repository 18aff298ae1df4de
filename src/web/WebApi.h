#pragma once

#include <QJsonObject>
#include <functional>
#include <optional>

#include "web/ControlPort.h"
#include "web/WebAuth.h"
#include "web/WebMessage.h"

namespace torvane {

// The routes of the page and of the API under /api/v1/, with their rules: unknown path 404, no
// or wrong token 401, wrong method 405, a command from another page's origin 403, a body over
// 64 KiB 413, bad JSON or an unknown field 400.
class WebApi {
public:
    static constexpr qsizetype kMaxBody = 64 * 1024;
    static constexpr int kMaxLimit = 1000;

    WebApi(ControlPort& control, WebAuth& auth, bool english)
        : control_(control), auth_(auth), english_(english) {}

    WebReply Handle(const WebRequest& request);

private:
    enum class Kind { Page, Login, Read, Command };
    struct Route {
        const char* path;
        const char* method;
        Kind kind;
        WebReply (WebApi::*handler)(const WebRequest&, const QJsonObject&);
    };
    static const Route* FindRoute(const QString& path);

    WebReply Page(const WebRequest&, const QJsonObject&);
    WebReply Login(const WebRequest&, const QJsonObject& body);
    WebReply Status(const WebRequest&, const QJsonObject&);
    WebReply Detections(const WebRequest& request, const QJsonObject&);
    WebReply Results(const WebRequest& request, const QJsonObject&);
    WebReply LogLines(const WebRequest& request, const QJsonObject&);
    WebReply Export(const WebRequest&, const QJsonObject&);
    WebReply LiveTicket(const WebRequest&, const QJsonObject&);
    WebReply Flow(const WebRequest&, const QJsonObject& body);
    WebReply Replay(const WebRequest&, const QJsonObject& body);
    WebReply Reload(const WebRequest&, const QJsonObject&);
    WebReply Disconnect(const WebRequest&, const QJsonObject&);
    WebReply ResendUnknown(const WebRequest&, const QJsonObject&);
    WebReply NewRace(const WebRequest&, const QJsonObject&);

    ControlPort& control_;
    WebAuth& auth_;
    bool english_;
};

// {"ok": false, "error": text} with that status.
WebReply ErrorReply(int status, const QString& text);

}  // namespace torvane
