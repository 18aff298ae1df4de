#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QIODevice>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrlQuery>
#include <functional>
#include <memory>

namespace torvane {

// One HTTP request as the API sees it, whatever library parsed it.
struct WebRequest {
    QByteArray method;  // "GET", "POST"...
    QString path;
    QUrlQuery query;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QHostAddress peer;

    // The first header of that name (case-insensitive), empty when there is none.
    QByteArray Header(const QByteArray& name) const {
        for (const auto& [key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
        }
        return {};
    }
};

// The answer to a request: a body, or a stream read as the client takes it.
struct WebReply {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    std::unique_ptr<QIODevice> stream;  // when set, sent instead of body
    // When set, the answer comes later: it is given to the function that this one receives.
    std::function<void(std::function<void(WebReply)>)> deferred;
};

}  // namespace torvane
