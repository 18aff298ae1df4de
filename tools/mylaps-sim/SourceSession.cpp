#include "SourceSession.h"

#include <poll.h>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <vector>

#include "PassingRecord.h"

namespace mylapssim {
namespace {

using std::chrono::milliseconds;

// Torvane reads messages of at most 1 MiB; a source of the passing dialect sends at most 100
// records in one message.
constexpr std::size_t kLongestMessage = 1024 * 1024;
constexpr int kMostKeyedRecords = 100;
constexpr milliseconds kLongestPollWait{100};

std::int64_t WallClockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::optional<long> ParseToken(const std::string& text) {
    long token = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), token);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return token;
}

const char* PassingsCommand(Dialect dialect) {
    return dialect == Dialect::Passing ? "Passing" : "Store";
}

const char* PassingsAck(Dialect dialect) {
    return dialect == Dialect::Passing ? "AckPassing" : "AckStore";
}

std::string MarkerField(Dialect dialect, long number) {
    const TimeOfDay now = LocalNow().time;
    if (dialect == Dialect::Passing) return ComposeKeyedMarker(now, number);
    return FormatTimeField(TimeFamily::Thousandths, now);
}

}  // namespace

SourceSession::SourceSession(const Options& options, PassingPlan plan, std::ostream& out,
                             std::ostream& err, std::ostream* timingLog)
    : options_(options), plan_(std::move(plan)), out_(out), err_(err), timingLog_(timingLog) {
    messageInterval_ = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.perStore / options.rate));
}

int SourceSession::Run(const volatile std::sig_atomic_t& interrupts) {
    const Clock::time_point started = Clock::now();
    nextMessageDue_ = started;
    nextPingDue_ = started + milliseconds(options_.pingEveryMs);
    nextConnectAttempt_ = started;
    lastNewSend_ = started;

    while (interrupts < 2) {
        const Clock::time_point now = Clock::now();
        if (interrupts > 0 && !stopped_) {
            stopped_ = true;
            lastNewSend_ = now;
        }
        if (!EnsureConnected(now)) break;
        if (link_.IsOpen()) {
            SendDuePassings(now);
            ResendOverdue(now);
            SendDuePing(now);
        }
        if (IsFinished(now)) break;
        WaitForTraffic(now);
    }

    for (const auto& [token, item] : outstanding_)
        if (item.kind == Kind::Passings) WriteTimingLine(token, item.firstSentNs, -1);
    ReportSummary(started);
    const bool allSent = !plan_.HasMore() || stopped_;
    return everConnected_ && allSent && outstanding_.empty() ? 0 : 1;
}

// False when the run cannot go on: the link is down and may not be opened again.
bool SourceSession::EnsureConnected(Clock::time_point now) {
    if (link_.IsOpen()) return true;
    if (everConnected_ && !options_.reconnect) return false;
    if (now < nextConnectAttempt_) return true;

    nextConnectAttempt_ = now + milliseconds(options_.reconnectDelayMs);
    const std::string problem =
        link_.Connect(options_.host, options_.port, options_.connectTimeoutMs);
    if (!problem.empty()) {
        // With --reconnect a refused connection is a wait for Torvane, not an error: --quiet keeps
        // it silent.
        const bool waiting = options_.reconnect && options_.quiet;
        if ((!connectFailed_ && !waiting) || options_.verbose)
            err_ << "mylaps-sim: cannot connect to " << options_.host << ":" << options_.port
                 << ": " << problem << std::endl;
        connectFailed_ = true;
        return options_.reconnect;
    }
    connectFailed_ = false;
    splitter_.Reset();
    if (options_.verbose)
        out_ << "connected to " << options_.host << ":" << options_.port << std::endl;
    Send(ComposeMessage(options_.source, "Pong"));
    if (everConnected_) {
        for (auto& [token, item] : outstanding_) {
            Transmit(token, item);
            ++resent_;
        }
    }
    everConnected_ = true;
    return true;
}

bool SourceSession::WindowAllows() const {
    return options_.window == 0 || passingMessagesOutstanding_ < options_.window;
}

void SourceSession::SendDuePassings(Clock::time_point now) {
    while (!stopped_ && plan_.HasMore() && WindowAllows() &&
           (options_.backlog || now >= nextMessageDue_)) {
        SendPassings(now);
        if (options_.markerEvery > 0 && passingMessagesSent_ % options_.markerEvery == 0)
            SendMarker(now);
        nextMessageDue_ += messageInterval_;
        // After a stall (link down, window full) resume the pace instead of bursting.
        if (now - nextMessageDue_ > std::chrono::seconds(1)) nextMessageDue_ = now;
    }
}

void SourceSession::SendPassings(Clock::time_point now) {
    std::vector<std::string> fields;
    for (int i = 0; i < options_.perStore && plan_.HasMore(); ++i) fields.push_back(plan_.Next());
    const long token = nextToken_++;
    passingsSent_ += static_cast<long>(fields.size());
    if (options_.dialect == Dialect::Passing && fields.size() > kMostKeyedRecords &&
        !warnedManyRecords_) {
        err_ << "mylaps-sim: warning: a Passing message of " << fields.size()
             << " records; a source of this dialect sends at most " << kMostKeyedRecords
             << std::endl;
        warnedManyRecords_ = true;
    }
    fields.push_back(std::to_string(token));
    const char* command = PassingsCommand(options_.dialect);
    std::string wire = ComposeMessage(options_.source, command, fields);
    if (wire.size() - 1 > kLongestMessage && !warnedLongMessage_) {
        err_ << "mylaps-sim: warning: a " << command << " message of " << wire.size() - 1
             << " bytes is longer than the " << kLongestMessage << " bytes Torvane reads"
             << std::endl;
        warnedLongMessage_ = true;
    }
    Outstanding& item = outstanding_[token] = {Kind::Passings, std::move(wire), WallClockNs(), now};
    Transmit(token, item);
    ++passingMessagesSent_;
    ++passingMessagesOutstanding_;
    lastNewSend_ = now;
}

void SourceSession::SendMarker(Clock::time_point now) {
    const long token = nextToken_++;
    std::string wire = ComposeMessage(
        options_.source, "Marker", {MarkerField(options_.dialect, token), std::to_string(token)});
    Outstanding& item = outstanding_[token] = {Kind::Marker, std::move(wire), WallClockNs(), now};
    Transmit(token, item);
    ++markersSent_;
}

void SourceSession::ResendOverdue(Clock::time_point now) {
    const milliseconds timeout(options_.ackTimeoutMs);
    while (!resendQueue_.empty() && resendQueue_.front().first <= now) {
        const auto [due, token] = resendQueue_.front();
        resendQueue_.pop_front();
        const auto found = outstanding_.find(token);
        if (found == outstanding_.end() || found->second.lastSent + timeout != due) continue;
        if (options_.verbose) out_ << "resending token " << token << std::endl;
        Transmit(token, found->second);
        ++resent_;
    }
}

void SourceSession::Transmit(long token, Outstanding& item) {
    Send(item.wire);
    // The moment of sending itself, not the start of the loop pass: the resend must not come
    // early.
    item.lastSent = Clock::now();
    if (options_.ackTimeoutMs > 0)
        resendQueue_.emplace_back(item.lastSent + milliseconds(options_.ackTimeoutMs), token);
}

void SourceSession::SendDuePing(Clock::time_point now) {
    if (options_.pingEveryMs == 0 || now < nextPingDue_) return;
    Send(ComposeMessage(options_.source, "Ping"));
    nextPingDue_ = now + milliseconds(options_.pingEveryMs);
}

bool SourceSession::IsFinished(Clock::time_point now) const {
    if (plan_.HasMore() && !stopped_) return false;
    if (outstanding_.empty()) return true;
    return now - lastNewSend_ >= milliseconds(options_.waitAcksMs);
}

void SourceSession::WaitForTraffic(Clock::time_point now) {
    Clock::time_point wake = now + kLongestPollWait;
    if (!link_.IsOpen())
        wake = std::min(wake, nextConnectAttempt_);
    else if (plan_.HasMore() && !stopped_ && WindowAllows())
        wake = std::min(wake, nextMessageDue_);
    if (!resendQueue_.empty()) wake = std::min(wake, resendQueue_.front().first);
    const int waitMs = static_cast<int>(
        std::max<long long>(0, std::chrono::ceil<milliseconds>(wake - now).count()));

    pollfd watched{link_.Fd(), POLLIN, 0};
    if (link_.HasUnsent()) watched.events |= POLLOUT;
    const int ready = poll(&watched, link_.IsOpen() ? 1 : 0, waitMs);
    if (ready <= 0) return;  // timed out, or interrupted by a signal

    bool alive = true;
    if (watched.revents & POLLOUT) alive = link_.Flush();
    if (alive && (watched.revents & (POLLIN | POLLHUP | POLLERR))) {
        std::string bytes;
        alive = link_.Read(bytes);
        splitter_.Feed(bytes.data(), bytes.size());
        while (auto text = splitter_.Take()) HandleMessage(*text);
    }
    if (!alive) err_ << "mylaps-sim: link to Torvane lost" << std::endl;
}

void SourceSession::HandleMessage(const std::string& text) {
    if (options_.verbose) out_ << "< " << text << "$" << std::endl;
    const auto message = ParseMessage(text);
    if (!message) return;
    if (message->command == PassingsAck(options_.dialect))
        return HandleAck(*message, Kind::Passings);
    if (message->command == "AckMarker") return HandleAck(*message, Kind::Marker);
    // The other dialect's acknowledgement settles nothing in this one.
    if (message->command == "AckStore" || message->command == "AckPassing")
        return CountStrayAck(*message, AckToken(*message));
    if (auto answer = AnswerFor(*message, options_.source)) Send(*answer);
}

void SourceSession::HandleAck(const ReceivedMessage& message, Kind kind) {
    const auto tokenText = AckToken(message);
    const auto token = tokenText ? ParseToken(*tokenText) : std::nullopt;
    const auto found = token ? outstanding_.find(*token) : outstanding_.end();
    if (found == outstanding_.end() || found->second.kind != kind)
        return CountStrayAck(message, tokenText);
    if (IgnoresFirstAckOf(*token)) {
        if (options_.printAcks)
            out_ << "ack " << message.command << " " << *token << " ignored, as asked" << std::endl;
        return;
    }
    const std::int64_t ackNs = WallClockNs();
    if (kind == Kind::Passings) {
        ++passingMessagesAcked_;
        --passingMessagesOutstanding_;
        WriteTimingLine(*token, found->second.firstSentNs, ackNs);
    } else {
        ++markersAcked_;
    }
    if (options_.printAcks) {
        char delay[32];
        std::snprintf(delay, sizeof delay, "%.3f", (ackNs - found->second.firstSentNs) / 1e6);
        out_ << "ack " << message.command << " " << *token << " after " << delay << " ms"
             << std::endl;
    }
    outstanding_.erase(found);
}

void SourceSession::CountStrayAck(const ReceivedMessage& message,
                                  const std::optional<std::string>& tokenText) {
    ++strayAcks_;
    if (options_.printAcks)
        out_ << "ack " << message.command << " " << tokenText.value_or("(none)")
             << ": nothing outstanding" << std::endl;
}

// True the first time only for each message that --ignore-first-ack names.
bool SourceSession::IgnoresFirstAckOf(long number) {
    if (!options_.ignoreEveryFirstAck && options_.ignoreFirstAckOf.count(number) == 0) return false;
    return firstAckIgnored_.insert(number).second;
}

void SourceSession::Send(const std::string& wire) {
    if (options_.verbose) out_ << "> " << wire << std::endl;
    link_.Queue(wire);
}

void SourceSession::WriteTimingLine(long token, std::int64_t sentNs, std::int64_t ackNs) {
    if (!timingLog_) return;
    *timingLog_ << token << ' ' << sentNs << ' ' << ackNs << '\n';
    timingLog_->flush();
}

void SourceSession::ReportSummary(Clock::time_point started) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", elapsed);
    out_ << "summary: sent " << passingMessagesSent_ << " " << PassingsCommand(options_.dialect)
         << " messages (" << passingsSent_ << " passings), acknowledged " << passingMessagesAcked_
         << ", resent " << resent_ << ", unacknowledged " << passingMessagesOutstanding_;
    if (markersSent_ > 0)
        out_ << ", markers sent " << markersSent_ << " and acknowledged " << markersAcked_;
    if (!firstAckIgnored_.empty())
        out_ << ", first acknowledgements ignored " << firstAckIgnored_.size();
    if (strayAcks_ > 0) out_ << ", stray acknowledgements " << strayAcks_;
    out_ << ", elapsed " << seconds << " s" << std::endl;
}

}  // namespace mylapssim
