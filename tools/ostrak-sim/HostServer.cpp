#include "HostServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <vector>

#include "HostAnswers.h"

namespace ostraksim {
namespace {

constexpr std::size_t kLongestLine = 4096;

std::int64_t WallClockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

std::string WithoutTrailingCR(std::string line) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

int ParsedBib(const std::string& text) {
    int bib = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, bib);
    return ec == std::errc() && ptr == end && bib > 0 ? bib : 0;
}

}  // namespace

HostServer::HostServer(const Options& options, RunnerList runners, std::ostream& out,
                       std::ostream& err, std::ostream* log)
    : options_(options), runners_(std::move(runners)), out_(out), err_(err), log_(log) {}

HostServer::~HostServer() {
    for (Link& link : links_) ::close(link.fd);
    StopListening();
}

std::string HostServer::Open() {
    port_ = options_.port;
    if (std::string problem = Listen(); !problem.empty()) return problem;
    if (options_.refuse) SetRefusing(true);
    return {};
}

std::string HostServer::Listen() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    if (inet_pton(AF_INET, options_.bind.c_str(), &address.sin_addr) != 1)
        return "not an IPv4 address: " + options_.bind;

    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::strerror(errno);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, SOMAXCONN) != 0) {
        const std::string problem = std::strerror(errno);
        ::close(fd);
        return problem;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    SetNonBlocking(fd);
    listenFd_ = fd;
    return {};
}

void HostServer::StopListening() {
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
}

void HostServer::Run(const volatile std::sig_atomic_t& stop) {
    while (!quit_ && !stop) {
        std::vector<pollfd> watched;
        watched.push_back({operatorOpen_ ? STDIN_FILENO : -1, POLLIN, 0});
        watched.push_back({listenFd_, POLLIN, 0});
        for (const Link& link : links_)
            watched.push_back(
                {link.fd, static_cast<short>(POLLIN | (link.outbox.empty() ? 0 : POLLOUT)), 0});

        if (poll(watched.data(), watched.size(), -1) <= 0) continue;  // a signal, or nothing

        if (watched[0].revents) ReadOperator();
        if (watched[1].revents & POLLIN) AcceptConnection();
        std::size_t index = 2;
        for (auto it = links_.begin(); it != links_.end() && index < watched.size(); ++index) {
            Link& link = *it;
            const short events = link.fd == watched[index].fd ? watched[index].revents : 0;
            bool open = link.fd >= 0;
            // Read first: after a reset the kernel still hands over what arrived before it,
            // which a failed write of answers must not throw away.
            if (open && (events & (POLLIN | POLLHUP | POLLERR))) open = ReadFrom(link);
            if (open && (events & POLLOUT)) Flush(link);
            if (log_) log_->flush();
            it = link.fd >= 0 ? std::next(it) : links_.erase(it);
        }
        // Links closed by an operator command are removed here.
        links_.remove_if([](const Link& link) { return link.fd < 0; });
    }
    Event("stopping");
    out_ << "summary: received " << requestsReceived_ << " requests (" << detectionsReceived_
         << " detections) on " << nextLinkId_ - 1 << " links" << std::endl;
}

void HostServer::AcceptConnection() {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    if (refusing_) {
        ::close(fd);
        Event("connection refused");
        return;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Link& link = links_.emplace_back();
    link.fd = fd;
    link.id = nextLinkId_++;
    Event("link " + std::to_string(link.id) + " connected");
}

// False when the link has ended (then it is closed).
bool HostServer::ReadFrom(Link& link) {
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::recv(link.fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (got <= 0) {
            CloseLink(link, "closed by the peer");
            return false;
        }
        const std::int64_t receivedNs = WallClockNs();
        link.inbox.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end; (end = link.inbox.find('\n')) != std::string::npos;) {
            std::string line = WithoutTrailingCR(link.inbox.substr(0, end));
            link.inbox.erase(0, end + 1);
            if (link.skippingLongLine) {
                link.skippingLongLine = false;  // the end of an overlong line
                continue;
            }
            const bool overlong = line.size() > kLongestLine;
            if (overlong) line.resize(kLongestLine);
            if (!HandleLine(link, line, receivedNs, overlong)) return false;
        }
        if (link.skippingLongLine) {
            link.inbox.clear();
        } else if (link.inbox.size() > kLongestLine) {
            // An overlong line is taken up to the limit; the rest, up to its line end, is not.
            std::string line = link.inbox.substr(0, kLongestLine);
            link.inbox.clear();
            link.skippingLongLine = true;
            if (!HandleLine(link, line, receivedNs, true)) return false;
        }
    }
}

// False when the link was closed because of this line.
bool HostServer::HandleLine(Link& link, const std::string& line, std::int64_t receivedNs,
                            bool overlong) {
    if (log_) *log_ << receivedNs << ' ' << line << '\n';
    if (options_.verbose) out_ << receivedNs << ' ' << line << std::endl;
    if (line.empty()) return true;

    const std::string answer =
        overlong ? ErrorAnswer(kInvalidCommand) : AnswerTo(ParseRequest(line));
    if (!answer.empty() && !link.sendFailed) {
        if (options_.verbose) out_ << "> " << answer << std::endl;
        link.outbox += answer + "\n";
        Flush(link);
    }
    ++requestsReceived_;
    if (options_.dropAfter > 0 && !dropDone_ && requestsReceived_ == options_.dropAfter) {
        dropDone_ = true;
        CloseLink(link, "dropped after " + std::to_string(options_.dropAfter) + " requests");
        return false;
    }
    return true;
}

std::string HostServer::AnswerTo(const HostRequest& request) {
    switch (request.kind) {
        case RequestKind::Ping:
            return InfoAnswer(kPingNumber, {});
        case RequestKind::Query:
            switch (request.infoNumber) {
                case 24:
                    return InfoAnswer(24, options_.mode);
                case 25:
                    return InfoAnswer(25, options_.user);
                case 5:
                    return InfoAnswer(5, options_.competition);
                case 6:
                    return InfoAnswer(6, options_.fileName);
                case 27:
                    return InfoAnswer(27, options_.version);
                case 28:
                    return InfoAnswer(28, "Ostrak Pro " + options_.version + " (simulator)");
                default:
                    return InfoAnswer(7, options_.detectors);
            }
        case RequestKind::AddDagClock:
            ++detectionsReceived_;
            return AnswerDetection(request.detection);
        case RequestKind::Unknown:
            return ErrorAnswer(kUnknownCommand);
        case RequestKind::Malformed:
            break;
    }
    return ErrorAnswer(kInvalidCommand);
}

std::string HostServer::AnswerDetection(const Detection& detection) {
    if (options_.answer == AnswerMode::Error) return ErrorAnswer(options_.errorCode);

    const int bib = ParsedBib(detection.bibText);
    const auto found = runners_.byBib.find(bib);
    Runner generated;
    const Runner* runner = nullptr;
    if (found != runners_.byBib.end()) {
        runner = &found->second;
    } else if (options_.anyBib && bib > 0) {
        generated = NamedAfterBib(bib);
        runner = &generated;
    }
    const Standing standing = runner ? board_.RecordPassage(*runner) : Standing{};
    const RunnerResult result = MakeResult(detection, runner, standing, options_.competition);

    switch (options_.answer) {
        case AnswerMode::Result:
            return ResultAnswer(result);
        case AnswerMode::Tagged:
            return TaggedAnswer(result, options_.tag);
        default:
            return {};
    }
}

// False when the link has failed (then it is closed).
void HostServer::Flush(Link& link) {
    while (!link.outbox.empty()) {
        const ssize_t sent = ::send(link.fd, link.outbox.data(), link.outbox.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            link.outbox.erase(0, static_cast<std::size_t>(sent));
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        } else {
            // A peer that reset the link may still have sent lines before: they are read to
            // the end of the stream, which closes the link.
            link.outbox.clear();
            if (!link.sendFailed)
                Event("link " + std::to_string(link.id) + " failed while sending");
            link.sendFailed = true;
            return;
        }
    }
}

void HostServer::CloseLink(Link& link, const std::string& why) {
    if (link.fd < 0) return;
    ::shutdown(link.fd, SHUT_RDWR);
    ::close(link.fd);
    link.fd = -1;
    Event("link " + std::to_string(link.id) + " " + why);
}

// One read per readiness, so that standard input can stay blocking (it may be a terminal).
void HostServer::ReadOperator() {
    char buffer[1024];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) return;
    if (got <= 0) {
        operatorOpen_ = false;  // standard input ended: serve on without commands
        return;
    }
    operatorInput_.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; (end = operatorInput_.find('\n')) != std::string::npos;) {
        const std::string command = WithoutTrailingCR(operatorInput_.substr(0, end));
        operatorInput_.erase(0, end + 1);
        HandleOperatorCommand(command);
    }
    if (operatorInput_.size() > kLongestLine) operatorInput_.clear();
}

void HostServer::HandleOperatorCommand(const std::string& command) {
    if (command == "drop") {
        for (Link& link : links_) CloseLink(link, "dropped by the operator");
    } else if (command == "refuse on") {
        SetRefusing(true);
    } else if (command == "refuse off") {
        SetRefusing(false);
    } else if (command == "quit") {
        quit_ = true;
    } else if (!command.empty()) {
        err_ << "ostrak-sim: unknown command \"" << command
             << "\" (drop, refuse on, refuse off, quit)" << std::endl;
    }
}

void HostServer::SetRefusing(bool refusing) {
    refusing_ = refusing;
    if (options_.refusal == RefusalKind::NoListen) {
        if (refusing) {
            StopListening();
        } else if (listenFd_ < 0) {
            if (std::string problem = Listen(); !problem.empty())
                err_ << "ostrak-sim: cannot listen again on port " << port_ << ": " << problem
                     << std::endl;
        }
    }
    Event(refusing ? "refusing connections" : "accepting connections");
}

void HostServer::Event(const std::string& text) {
    if (options_.verbose) out_ << "+ " << text << std::endl;
}

}  // namespace ostraksim
