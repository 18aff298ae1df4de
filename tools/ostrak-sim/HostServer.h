#pragma once

#include <csignal>
#include <cstdint>
#include <list>
#include <ostream>
#include <string>

#include "HostRequest.h"
#include "Options.h"
#include "RaceBoard.h"
#include "Runners.h"

namespace ostraksim {

// Listens for host links, answers their request lines, and obeys the operator's commands on
// standard input. Everything runs on one thread around poll().
class HostServer {
public:
    // `log` may be null.
    HostServer(const Options& options, RunnerList runners, std::ostream& out, std::ostream& err,
               std::ostream* log);
    HostServer(const HostServer&) = delete;
    HostServer& operator=(const HostServer&) = delete;
    ~HostServer();

    // Binds and listens; empty on success, otherwise the reason.
    std::string Open();
    int Port() const { return port_; }

    // Serves until "quit" or until `stop` is set by a signal.
    void Run(const volatile std::sig_atomic_t& stop);

private:
    struct Link {
        int fd = -1;
        int id = 0;
        std::string inbox;
        std::string outbox;
        bool skippingLongLine = false;
        bool sendFailed = false;  // answers are no longer sent; what arrived is still read
    };

    std::string Listen();
    void StopListening();
    void AcceptConnection();
    bool ReadFrom(Link& link);
    bool HandleLine(Link& link, const std::string& line, std::int64_t receivedNs, bool overlong);
    std::string AnswerTo(const HostRequest& request);
    std::string AnswerDetection(const Detection& detection);
    void Flush(Link& link);
    void CloseLink(Link& link, const std::string& why);
    void ReadOperator();
    void HandleOperatorCommand(const std::string& command);
    void SetRefusing(bool refusing);
    void Event(const std::string& text);

    const Options& options_;
    RunnerList runners_;
    RaceBoard board_;
    std::ostream& out_;
    std::ostream& err_;
    std::ostream* log_;

    int listenFd_ = -1;
    int port_ = 0;
    std::list<Link> links_;
    int nextLinkId_ = 1;
    bool refusing_ = false;
    long requestsReceived_ = 0;
    long detectionsReceived_ = 0;
    bool dropDone_ = false;
    bool operatorOpen_ = true;
    std::string operatorInput_;
    bool quit_ = false;
};

}  // namespace ostraksim
