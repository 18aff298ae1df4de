#pragma once

#include <optional>
#include <string>

namespace torvane {

// Section [Web] of the settings: Port (3098 by default, 0 turns the page off), Listen
// (127.0.0.1 by default) and Token, made at the first start from 128 random bits of the
// system's random source; the settings file is then readable by its owner only.
struct WebSettings {
    static constexpr int kDefaultPort = 3098;
    int port = kDefaultPort;
    std::string listen = "127.0.0.1";
    std::string token;
};

// Reads the section, writes each key back, and makes the token when there is none and the page
// is on (by its Port, or `pageWanted` for this run).
WebSettings LoadWebSettings(bool pageWanted);
// The token and nothing else, for `torvane ctl` (empty when there is none).
std::string ReadWebToken();

// Where a running Torvane says where its page listens ("ADDRESS PORT"), beside its instance
// lock: $XDG_RUNTIME_DIR/Torvane-web.port, /tmp/Torvane-UID-web.port without it.
std::string WebAddressFilePath();
bool WriteWebAddressFile(const std::string& address, int port);
void RemoveWebAddressFile(int port);
struct WebAddress {
    std::string address;
    int port = 0;
};
std::optional<WebAddress> ReadWebAddressFile();

}  // namespace torvane
