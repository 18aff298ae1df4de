#pragma once

#include <string>
#include <vector>

namespace torvane {

// `torvane ctl COMMAND [ARGS]`: the terminal's commands sent to the running Torvane of this
// user through its web API on this computer, with the token of the user's settings file. Prints
// what the terminal would print. Returns the exit code: 0 done, 1 the command failed, 2 no
// Torvane answers.
int RunCtl(const std::vector<std::string>& arguments);

// One HTTP/1.1 exchange, Connection: close.
struct HttpAnswer {
    int status = 0;  // 0: no answer
    std::string body;
};
HttpAnswer HttpExchange(const std::string& address, int port, const std::string& method,
                        const std::string& path, const std::string& token, const std::string& body,
                        int timeoutMs);

}  // namespace torvane
