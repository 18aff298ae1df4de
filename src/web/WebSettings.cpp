#include "web/WebSettings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "base/SettingsStore.h"
#include "web/WebAuth.h"

namespace torvane {

WebSettings LoadWebSettings(bool pageWanted) {
    WebSettings settings;
    settings.port = ReadIniInt("Web", "Port", WebSettings::kDefaultPort);
    WriteIniInt("Web", "Port", settings.port);
    settings.listen = ReadIniString("Web", "Listen", settings.listen);
    WriteIniString("Web", "Listen", settings.listen);
    settings.token = ReadIniString("Web", "Token", "");
    if (settings.token.empty() && (pageWanted || settings.port != 0)) {
        settings.token = RandomHex(16).toStdString();
        WriteIniString("Web", "Token", settings.token);
    }
    // The token is a password: the file that holds it is its owner's alone (later writes keep
    // the mode).
    ::chmod(GetIniPath().c_str(), 0600);
    return settings;
}

std::string ReadWebToken() {
    return ReadIniString("Web", "Token", "");
}

std::string WebAddressFilePath() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        return std::string(runtime) + "/Torvane-web.port";
    }
    return "/tmp/Torvane-" + std::to_string(::getuid()) + "-web.port";
}

bool WriteWebAddressFile(const std::string& address, int port) {
    std::ofstream out(WebAddressFilePath(), std::ios::trunc);
    out << address << ' ' << port << '\n';
    return static_cast<bool>(out.flush());
}

void RemoveWebAddressFile(int port) {
    // Only this run's own file: another run's is left alone.
    const auto written = ReadWebAddressFile();
    if (written && written->port == port) std::remove(WebAddressFilePath().c_str());
}

std::optional<WebAddress> ReadWebAddressFile() {
    std::ifstream in(WebAddressFilePath());
    WebAddress address;
    if (!(in >> address.address >> address.port) || address.port <= 0 || address.port > 65535) {
        return std::nullopt;
    }
    return address;
}

}  // namespace torvane
