#include "web/WebFrontEnd.h"

#include "base/Logging.h"
#include "base/Texts.h"
#include "web/WebSettings.h"

namespace torvane {

std::unique_ptr<WebFrontEnd> WebFrontEnd::Start(Core& core, std::optional<int> port) {
    if (port && *port < 0) return nullptr;  // no page for this run
    WebSettings settings = LoadWebSettings(port.has_value());
    if (port) {
        settings.port = *port;
    } else if (settings.port == 0) {
        return nullptr;
    }
    const QHostAddress address(QString::fromStdString(settings.listen));
    if (settings.port < 0 || settings.port > 65535 || address.isNull()) {
        Log(0, Format(Tr("$$$ The web page cannot listen on %s port %d: no web page",
                         "$$$ La page web ne peut pas écouter sur %s port %d : pas de page web"),
                      settings.listen.c_str(), settings.port));
        return nullptr;
    }
    std::unique_ptr<WebFrontEnd> web(new WebFrontEnd(core));
    web->server_ =
        std::make_unique<WebServer>(web->control_, QByteArray::fromStdString(settings.token),
                                    CurrentLanguage() == Language::English);
    QString error;
    if (!web->server_->Start(address, static_cast<quint16>(settings.port), error)) {
        Log(0, Format(Tr("$$$ Web port %d cannot be used (%s): no web page",
                         "$$$ Le port web %d est inutilisable (%s) : pas de page web"),
                      settings.port, error.toStdString().c_str()));
        return nullptr;
    }
    // ctl talks to this computer: a page listening everywhere is reached on loopback.
    const bool everywhere = address == QHostAddress::AnyIPv4 || address == QHostAddress::Any;
    WriteWebAddressFile(everywhere ? "127.0.0.1" : settings.listen, web->Port());
    Log(25, Format(Tr("+ Web page on http://%s:%d/", "+ Page web sur http://%s:%d/"),
                   settings.listen.c_str(), static_cast<int>(web->Port())));
    return web;
}

WebFrontEnd::~WebFrontEnd() {
    RemoveWebAddressFile(Port());
}

}  // namespace torvane
