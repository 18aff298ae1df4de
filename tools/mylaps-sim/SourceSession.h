#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>

#include "MyLapsWire.h"
#include "Options.h"
#include "PassingPlan.h"
#include "TcpClient.h"

namespace mylapssim {

// One run: connects, sends the planned passings in messages of the run's dialect ("Store" or
// "Passing"), answers Torvane, resends what stays unacknowledged, reconnects when asked to,
// and reports.
class SourceSession {
public:
    using Clock = std::chrono::steady_clock;

    // `timingLog` may be null.
    SourceSession(const Options& options, PassingPlan plan, std::ostream& out, std::ostream& err,
                  std::ostream* timingLog);

    // Runs until everything is acknowledged, the wait for acknowledgements is over, the link is
    // lost without --reconnect, or `interrupts` reaches 2. Returns the exit status.
    int Run(const volatile std::sig_atomic_t& interrupts);

private:
    enum class Kind { Passings, Marker };
    struct Outstanding {
        Kind kind;
        std::string wire;
        std::int64_t firstSentNs;
        Clock::time_point lastSent;
    };

    bool EnsureConnected(Clock::time_point now);
    void SendDuePassings(Clock::time_point now);
    void SendPassings(Clock::time_point now);
    void SendMarker(Clock::time_point now);
    void ResendOverdue(Clock::time_point now);
    void SendDuePing(Clock::time_point now);
    bool IsFinished(Clock::time_point now) const;
    void WaitForTraffic(Clock::time_point now);
    void HandleMessage(const std::string& text);
    void HandleAck(const ReceivedMessage& message, Kind kind);
    void CountStrayAck(const ReceivedMessage& message, const std::optional<std::string>& tokenText);
    bool IgnoresFirstAckOf(long number);
    void Send(const std::string& wire);
    void Transmit(long token, Outstanding& item);
    void WriteTimingLine(long token, std::int64_t sentNs, std::int64_t ackNs);
    void ReportSummary(Clock::time_point started);
    bool WindowAllows() const;

    const Options& options_;
    PassingPlan plan_;
    std::ostream& out_;
    std::ostream& err_;
    std::ostream* timingLog_;

    TcpClient link_;
    MessageSplitter splitter_;
    std::map<long, Outstanding> outstanding_;
    long passingMessagesOutstanding_ = 0;
    // When each transmission falls due for a resend, in time order; entries of messages
    // acknowledged or sent again since are skipped.
    std::deque<std::pair<Clock::time_point, long>> resendQueue_;
    long nextToken_ = 1;

    Clock::duration messageInterval_{};
    Clock::time_point nextMessageDue_{};
    Clock::time_point nextPingDue_{};
    Clock::time_point nextConnectAttempt_{};
    Clock::time_point lastNewSend_{};
    bool everConnected_ = false;
    bool connectFailed_ = false;
    bool stopped_ = false;

    long passingMessagesSent_ = 0;
    long passingsSent_ = 0;
    long passingMessagesAcked_ = 0;
    long markersSent_ = 0;
    long markersAcked_ = 0;
    long resent_ = 0;
    long strayAcks_ = 0;
    // Messages whose first acknowledgement has been ignored, as --ignore-first-ack asks.
    std::set<long> firstAckIgnored_;
    bool warnedLongMessage_ = false;
    bool warnedManyRecords_ = false;
};

}  // namespace mylapssim
