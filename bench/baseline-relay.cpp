// baseline-relay: the least a relay between a MyLaps source and the host can do, as the
// yardstick of the benchmark. It reads the same "$"-ended messages, turns each passing of a
// "Store" into one AddDagClock line for the host (bib from the same chip table), sends them and
// then acknowledges the Store. No logging, no window, no list, no held detections.
//
//   baseline-relay [--durable FILE] LISTEN_PORT HOST_PORT CHIP_TABLE
//
// Prints "listening on port N" once it listens (LISTEN_PORT 0 lets the system pick) and
// connects to the host on 127.0.0.1:HOST_PORT at start. Runs until SIGTERM or SIGINT.
//
// With --durable it adds what durability needs and nothing else: the messages of a burst (all
// those read in one turn of the loop, from every source) are written to FILE (a ring of 16 MiB
// made at the start) and flushed with one fdatasync before any of their acknowledgements leave. A
// burst that cannot be written is not acknowledged (its sources send it again).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

constexpr const char* kOwnName = "Bag";
constexpr std::size_t kChipLength = 7;
constexpr std::size_t kTimeStart = 7;
constexpr std::size_t kTimeLength = 12;
constexpr std::size_t kReceiveBlock = 64 * 1024;
constexpr std::size_t kMostPerTurn = 64 * kReceiveBlock;

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

std::unordered_map<std::string, int> LoadChipTable(const std::string& path) {
    std::unordered_map<std::string, int> table;
    std::ifstream in(path);
    std::string chip;
    int bib = 0;
    while (in >> chip >> bib) table.emplace(chip, bib);
    return table;
}

void AppendTwoDigits(std::string& out, int value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

// Appends the race time of a time field, "HH:MM:SS.mmm" or " HH:MM:SS.hh", as "HH:MM:SS.hh"
// (hundredths, truncated).
void AppendRaceTime(std::string& out, std::string_view field) {
    int parts[3] = {};
    int hundredths = 0;
    std::size_t i = 0;
    while (i < field.size() && field[i] == ' ') ++i;
    for (int part = 0; part < 3; ++part) {
        while (i < field.size() && field[i] >= '0' && field[i] <= '9')
            parts[part] = parts[part] * 10 + (field[i++] - '0');
        ++i;  // ':' or '.'
    }
    for (int digit = 0; digit < 2; ++digit, ++i) {
        hundredths *= 10;
        if (i < field.size() && field[i] >= '0' && field[i] <= '9') hundredths += field[i] - '0';
    }
    AppendTwoDigits(out, parts[0]);
    out += ':';
    AppendTwoDigits(out, parts[1]);
    out += ':';
    AppendTwoDigits(out, parts[2]);
    out += '.';
    AppendTwoDigits(out, hundredths);
}

// Calls take(field) for each "@"-separated field of a message; an empty last field is dropped.
template <typename Take>
void ForEachField(std::string_view text, Take take) {
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('@', start)) != std::string_view::npos; start = at + 1)
        take(text.substr(start, at - start));
    if (start < text.size()) take(text.substr(start));
}

struct Source {
    int fd;
    std::string buffer;
    std::string acks;  // acknowledgements waiting for their burst's flush (--durable)
};

// The messages of one burst, written to the file and flushed before they are acknowledged.
// The file is a ring of kRingBytes, filled with zeros and flushed once at the start, as a
// journal that reuses its space once its records are delivered: a flush then writes the data
// only, not the growth of the file.
class BurstFile {
public:
    static constexpr std::size_t kRingBytes = 16 * 1024 * 1024;

    explicit BurstFile(int fd) : fd_(fd) {}

    // Fills the ring, a block at a time; false when the file cannot hold it.
    bool Prepare() {
        bool ready = true;
        for (std::size_t done = 0; ready && done < kRingBytes; done += kReceiveBlock) {
            burst_.assign(kReceiveBlock, '\0');
            ready = WriteAll();
        }
        burst_.clear();
        at_ = 0;
        return ready && ::fdatasync(fd_) == 0;
    }

    void Add(std::string_view message) { burst_.append(message).push_back('$'); }
    bool Empty() const { return burst_.empty(); }

    // Writes the burst and flushes it; false (and one message) when either fails.
    bool Commit() {
        const bool durable = WriteAll() && ::fdatasync(fd_) == 0;
        burst_.clear();
        if (!durable && !failed_) std::perror("baseline-relay: the burst is not on disk");
        failed_ = !durable;
        return durable;
    }

private:
    bool WriteAll() {
        for (std::size_t done = 0; done < burst_.size();) {
            const std::size_t piece = std::min(burst_.size() - done, kRingBytes - at_);
            const ssize_t written =
                ::pwrite(fd_, burst_.data() + done, piece, static_cast<off_t>(at_));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return false;
            done += static_cast<std::size_t>(written);
            at_ = (at_ + static_cast<std::size_t>(written)) % kRingBytes;
        }
        return true;
    }

    int fd_;
    std::size_t at_ = 0;
    std::string burst_;
    bool failed_ = false;
};

class Relay {
public:
    Relay(int hostFd, std::unordered_map<std::string, int> chips, BurstFile* burstFile)
        : hostFd_(hostFd), chips_(std::move(chips)), burstFile_(burstFile) {}

    // Handles one message of a source; false when the source connection failed.
    bool OnMessage(Source& from, std::string_view text) {
        fields_.clear();
        ForEachField(text, [this](std::string_view field) { fields_.push_back(field); });
        if (fields_.size() < 3) return true;
        const std::string_view source = fields_[0];
        const std::string_view command = fields_[1];
        if (command != "Store" && command != "Marker") return true;
        if (command == "Store") {
            hostBytes_.clear();
            for (std::size_t i = 2; i + 1 < fields_.size(); ++i) AppendHostLine(source, fields_[i]);
            SendAll(hostFd_, hostBytes_.data(), hostBytes_.size());
        }
        ack_.assign(kOwnName);
        ack_.append("@Ack").append(command).append("@").append(fields_.back()).append("$");
        if (!burstFile_) return SendAll(from.fd, ack_.data(), ack_.size());
        burstFile_->Add(text);
        from.acks += ack_;
        return true;
    }

private:
    void AppendHostLine(std::string_view source, std::string_view passing) {
        chip_.assign(passing.substr(0, kChipLength));
        const std::string_view time =
            passing.size() > kTimeStart ? passing.substr(kTimeStart, kTimeLength) : "";
        hostBytes_.append("AddDagClock(1\t").append(source).append("\t");
        if (const auto found = chips_.find(chip_); found != chips_.end()) {
            char digits[16];
            const auto end = std::to_chars(digits, digits + sizeof digits, found->second).ptr;
            hostBytes_.append(digits, end);
        } else {
            hostBytes_.append(chip_);
        }
        hostBytes_.append("\t1\t");
        AppendRaceTime(hostBytes_, time);
        hostBytes_.append(")\r\n");
    }

    int hostFd_;
    std::unordered_map<std::string, int> chips_;
    std::vector<std::string_view> fields_;
    std::string chip_;
    std::string hostBytes_;
    std::string ack_;
    BurstFile* burstFile_;
};

int Listen(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0) {
        return -1;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("listening on port %d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    return fd;
}

int ConnectToHost(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
    return fd;
}

// The host's answers are read and dropped on their own thread, so that a host that writes
// while it is being written to never stalls the relay.
void DrainAnswers(int hostFd) {
    std::vector<char> block(kReceiveBlock);
    while (::recv(hostFd, block.data(), block.size(), 0) > 0) {
    }
}

// Takes all that a source has sent so far (up to kMostPerTurn), so that a burst holds
// everything that waited while the last one was flushed; false when the source is gone.
bool Receive(Source& source, std::vector<char>& block) {
    ssize_t received = ::recv(source.fd, block.data(), block.size(), 0);
    if (received <= 0) return false;
    for (std::size_t taken = 0;;) {
        source.buffer.append(block.data(), static_cast<std::size_t>(received));
        taken += static_cast<std::size_t>(received);
        if (static_cast<std::size_t>(received) < block.size() || taken >= kMostPerTurn) break;
        received = ::recv(source.fd, block.data(), block.size(), MSG_DONTWAIT);
        // An end or an error is seen at the next turn, once what came before it is handled.
        if (received <= 0) return true;
    }
    return true;
}

// Reads what a source sent and handles each complete message; false when it is gone.
bool ServeSource(Relay& relay, Source& source, std::vector<char>& block) {
    if (!Receive(source, block)) return false;
    std::size_t start = 0;
    for (std::size_t dollar; (dollar = source.buffer.find('$', start)) != std::string::npos;) {
        const std::string_view message(source.buffer.data() + start, dollar - start);
        if (!relay.OnMessage(source, message)) return false;
        start = dollar + 1;
    }
    source.buffer.erase(0, start);
    return true;
}

// Once the burst is on disk, its acknowledgements leave; none of them when it is not.
void AcknowledgeBurst(BurstFile& burstFile, std::vector<Source>& sources, std::vector<bool>& gone) {
    if (burstFile.Empty()) return;
    const bool durable = burstFile.Commit();
    for (std::size_t i = 0; i < sources.size(); ++i) {
        std::string& acks = sources[i].acks;
        if (durable && !acks.empty() && !SendAll(sources[i].fd, acks.data(), acks.size()))
            gone[i] = true;
        acks.clear();
    }
}

int OpenBurstFile(const char* path) {
    return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

}  // namespace

int main(int argc, char** argv) {
    const bool durable = argc == 6 && std::string_view(argv[1]) == "--durable";
    if (argc != 4 && !durable) {
        std::fprintf(stderr,
                     "usage: baseline-relay [--durable FILE] LISTEN_PORT HOST_PORT CHIP_TABLE\n");
        return 2;
    }
    char** ports = durable ? argv + 3 : argv + 1;
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    const int burstFd = durable ? OpenBurstFile(argv[2]) : -1;
    BurstFile burstFile(burstFd);
    if (durable && (burstFd < 0 || !burstFile.Prepare())) {
        std::fprintf(stderr, "baseline-relay: cannot write %s: %s\n", argv[2],
                     std::strerror(errno));
        return 1;
    }
    const int hostFd = ConnectToHost(std::atoi(ports[1]));
    if (hostFd < 0) {
        std::fprintf(stderr, "baseline-relay: cannot connect to the host\n");
        return 1;
    }
    const int listenFd = Listen(std::atoi(ports[0]));
    if (listenFd < 0) {
        std::fprintf(stderr, "baseline-relay: cannot listen\n");
        return 1;
    }
    std::thread(DrainAnswers, hostFd).detach();
    Relay relay(hostFd, LoadChipTable(ports[2]), durable ? &burstFile : nullptr);

    std::vector<Source> sources;
    std::vector<char> block(kReceiveBlock);
    while (!stopRequested) {
        std::vector<pollfd> watched{{listenFd, POLLIN, 0}};
        for (const Source& source : sources) watched.push_back({source.fd, POLLIN, 0});
        if (::poll(watched.data(), watched.size(), 500) <= 0) continue;
        std::vector<bool> gone(sources.size(), false);
        for (std::size_t i = 1; i < watched.size(); ++i) {
            if (watched[i].revents & (POLLIN | POLLHUP | POLLERR))
                gone[i - 1] = !ServeSource(relay, sources[i - 1], block);
        }
        AcknowledgeBurst(burstFile, sources, gone);
        for (std::size_t i = sources.size(); i-- > 0;) {
            if (!gone[i]) continue;
            ::close(sources[i].fd);
            sources.erase(sources.begin() + static_cast<long>(i));
        }
        if (watched[0].revents & POLLIN) {
            const int fd = ::accept(listenFd, nullptr, nullptr);
            if (fd >= 0) sources.push_back({fd, {}, {}});
        }
    }
    return 0;
}
