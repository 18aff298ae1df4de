#pragma once

#include <memory>
#include <optional>

#include "web/CoreControl.h"
#include "web/WebServer.h"

namespace torvane {

class Core;

// The web page of a running Torvane, as its settings ask: started beside either front-end, it
// says where it listens for `torvane ctl`. A port that cannot be used is a "$$$" log line, and
// Torvane goes on without the page.
class WebFrontEnd {
public:
    // `port` replaces the Port setting for this run (0: a port the system picks, -1: no page).
    static std::unique_ptr<WebFrontEnd> Start(Core& core, std::optional<int> port);
    ~WebFrontEnd();

    quint16 Port() const { return server_->Port(); }

private:
    explicit WebFrontEnd(Core& core) : control_(core) {}

    CoreControl control_;
    std::unique_ptr<WebServer> server_;
};

}  // namespace torvane
