#include "host/DetectionForwarder.h"

#include "base/Logging.h"
#include "base/Texts.h"
#include "net/HostLink.h"

namespace torvane {

void DetectionForwarder::Forward(const std::string& command) {
    if (batchDepth_ > 0) {
        batch_.push_back(command);
        return;
    }
    if (!held_.empty()) {
        // Older detections wait; this one goes after them.
        Hold(command);
        SendHeld();
        return;
    }
    if (!link_.SendHostLine(command)) Hold(command);
}

// The batch goes out as its commands would have one by one: after what is held, and what the
// link does not take is held in order.
void DetectionForwarder::CloseBatch() {
    if (--batchDepth_ > 0 || batch_.empty()) return;
    std::vector<std::string> commands;
    commands.swap(batch_);
    if (!held_.empty()) {
        for (const std::string& command : commands) Hold(command);
        SendHeld();
        return;
    }
    const std::size_t sent = link_.SendHostLines(commands);
    for (std::size_t i = sent; i < commands.size(); ++i) Hold(commands[i]);
}

void DetectionForwarder::SendHeld() {
    if (held_.empty() || !link_.IsHostLinkConnected()) return;
    size_t sent = 0;
    while (!held_.empty() && link_.SendHostLine(held_.front())) {
        held_.pop_front();
        ++sent;
    }
    if (sent > 0) {
        Log(0, Format(Tr("+++ %zu held detections sent to Ostrak Pro",
                         "+++ %zu détections en attente envoyées à Ostrak Pro"),
                      sent));
    }
}

void DetectionForwarder::Hold(const std::string& command) {
    if (held_.size() >= kMaxHeld) {
        std::string dropped = held_.front();
        held_.pop_front();
        for (char& c : dropped)
            if (c == '\t') c = ' ';
        Log(0, Format(Tr("$$$ Too many held detections, oldest dropped: %s",
                         "$$$ Trop de détections en attente, la plus ancienne est perdue : %s"),
                      dropped.c_str()));
    }
    held_.push_back(command);
}

}  // namespace torvane
