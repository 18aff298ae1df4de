#include "app/JournalActions.h"

#include <cstdio>
#include <memory>

#include "app/Core.h"
#include "base/Clock.h"
#include "base/Logging.h"
#include "base/Texts.h"
#include "journal/JournalExport.h"

namespace torvane {
namespace {

constexpr long kSecondsPerHour = 3600;
// Detections handed to the outbox at a time: the window thread takes each chunk between its
// other work.
constexpr std::size_t kReplayChunkRows = 1000;

// The instant of a span time: the first race day's local midnight, counted in calendar days so
// that a day with a clock change keeps its length on the wall clock.
std::optional<std::int64_t> SpanInstantMs(const RunningState& state, long secondsOfSpan) {
    int year = 0, month = 0, day = 0;
    if (std::sscanf(state.raceDays[0].c_str(), "%4d%2d%2d", &year, &month, &day) != 3) {
        return std::nullopt;
    }
    const long hours = secondsOfSpan / kSecondsPerHour;
    const long rest = secondsOfSpan % kSecondsPerHour;
    const std::int64_t seconds = clock::MakeLocal(
        year, month, day + static_cast<int>(hours / 24), static_cast<int>(hours % 24),
        static_cast<int>(rest / 60), static_cast<int>(rest % 60));
    return seconds * 1000;
}

std::string CannotReadText(const std::string& error) {
    return Format(Tr("$$$ The journal cannot be read (%s)",
                     "$$$ Le journal des passages ne peut pas être lu (%s)"),
                  error.c_str());
}

std::string LogExportFailure(const std::string& path, const std::string& error) {
    const std::string message =
        Format(Tr("$$$ The journal cannot be exported to %s (%s)",
                  "$$$ Le journal des passages ne peut pas être exporté vers %s (%s)"),
               path.c_str(), error.c_str());
    Log(0, message);
    return message;
}

}  // namespace

std::optional<long> ParseSpanTime(const std::string& text) {
    int hours = 0, minutes = 0, seconds = 0, consumed = 0;
    const char* p = text.c_str();
    const bool withSeconds =
        std::sscanf(p, "%2d:%2d:%2d%n", &hours, &minutes, &seconds, &consumed) == 3 &&
        static_cast<std::size_t>(consumed) == text.size();
    if (!withSeconds) {
        seconds = 0;
        consumed = 0;
        if (std::sscanf(p, "%2d:%2d%n", &hours, &minutes, &consumed) != 2 ||
            static_cast<std::size_t>(consumed) != text.size()) {
            return std::nullopt;
        }
    }
    if (text.empty() || text[0] < '0' || text[0] > '9' || hours < 0 || minutes < 0 ||
        minutes > 59 || seconds < 0 || seconds > 59) {
        return std::nullopt;
    }
    return (static_cast<long>(hours) * 60 + minutes) * 60 + seconds;
}

void JournalActions::Replay(const std::string& from, const std::optional<std::string>& to,
                            Print print) {
    const auto fromTime = ParseSpanTime(from);
    const auto toTime = to ? ParseSpanTime(*to) : std::optional<long>();
    if (!fromTime || (to && !toTime) || (toTime && *toTime < *fromTime)) {
        print(Tr("Usage: replay HH:MM[:SS] [HH:MM[:SS]] (the end after the start)",
                 "Usage : replay HH:MM[:SS] [HH:MM[:SS]] (la fin après le début)"));
        return;
    }
    const auto fromMs = SpanInstantMs(core_.State(), *fromTime);
    const auto toMs = toTime ? SpanInstantMs(core_.State(), *toTime + 1) : clock::NowMs() + 1;
    if (!fromMs || !toMs) {
        print(Tr("No race day.", "Pas de jour de course."));
        return;
    }
    if (!core_.PassingJournal().IsOpen()) {
        print(CannotReadText(core_.PassingJournal().OpenError()));
        return;
    }
    const std::string endText = to ? *to : Tr("now", "maintenant");
    QueueAgain(
        [fromMs = *fromMs, toMs = *toMs - 1](const std::string& path, const auto& onChunk,
                                             const std::atomic<bool>& stopping) {
            return ReadForwardedSpan(path, fromMs, toMs, kReplayChunkRows, onChunk, &stopping);
        },
        [from, endText, print](const JournalReadResult& read) {
            if (!read.done) {
                print(CannotReadText(read.error));
                return;
            }
            const std::string message =
                Format(Tr("+++ Replay: %zu detections received from %s to %s queued again for "
                          "Ostrak Pro",
                          "+++ Rejeu : %zu détections reçues de %s à %s remises en file pour "
                          "Ostrak Pro"),
                       read.rows, from.c_str(), endText.c_str());
            Log(0, message);
            print(message);
        });
}

void JournalActions::Resend(std::vector<std::int64_t> passingIds, Print print) {
    if (!core_.PassingJournal().IsOpen()) {
        print(CannotReadText(core_.PassingJournal().OpenError()));
        return;
    }
    QueueAgain(
        [ids = std::move(passingIds)](const std::string& path, const auto& onChunk,
                                      const std::atomic<bool>& stopping) {
            return ReadForwardedPassings(path, ids, kReplayChunkRows, onChunk, &stopping);
        },
        [print](const JournalReadResult& read) {
            if (!read.done) {
                print(CannotReadText(read.error));
                return;
            }
            const std::string message = Format(
                Tr("+++ Journal: %zu detections chosen by the operator queued again for Ostrak "
                   "Pro",
                   "+++ Journal : %zu détections choisies par l'opérateur remises en file pour "
                   "Ostrak Pro"),
                read.rows);
            Log(0, message);
            print(message);
        });
}

void JournalActions::ForwardHeld(std::vector<std::int64_t> passingIds, Print print) {
    if (!core_.PassingJournal().IsOpen()) {
        print(CannotReadText(core_.PassingJournal().OpenError()));
        return;
    }
    // Written and waited for, here and after each chunk: a passing is read as kept back only
    // while its detection is not in the file, so a second request never sends it twice.
    core_.FlushJournal();
    auto refused = std::make_shared<std::size_t>(0);  // touched on the window thread only
    reader_.Run([this, path = core_.PassingJournal().Path(), ids = std::move(passingIds), print,
                 refused](const std::atomic<bool>& stopping) {
        const JournalReadResult read = ReadHeldPassings(
            path, ids, kReplayChunkRows,
            [this, refused](std::vector<HeldPassing> chunk) {
                return reader_.OnWindowThreadAndWait([this, refused, chunk = std::move(chunk)] {
                    for (const HeldPassing& held : chunk)
                        *refused += !core_.Processor().ForwardHeld(held);
                    core_.FlushJournal();
                });
            },
            &stopping);
        reader_.OnWindowThread([read, print, refused] {
            if (!read.done) {
                print(CannotReadText(read.error));
                return;
            }
            const std::string message = Format(
                Tr("+++ Journal: %zu detections kept back while the flow was closed sent to "
                   "Ostrak Pro on purpose (%zu could not be)",
                   "+++ Journal : %zu détections retenues flux fermé envoyées exprès à Ostrak Pro "
                   "(%zu ne pouvaient pas l'être)"),
                read.rows - *refused, *refused);
            Log(0, message);
            print(message);
        });
    });
}

void JournalActions::QueueAgain(ChunkReader read,
                                std::function<void(const JournalReadResult&)> done) {
    core_.FinishBurst();  // what is still in memory is read too
    reader_.Run([this, path = core_.PassingJournal().Path(), read = std::move(read),
                 done = std::move(done)](const std::atomic<bool>& stopping) {
        const JournalReadResult result = read(
            path,
            [this](std::vector<ForwardedDetection> chunk) {
                return reader_.OnWindowThreadAndWait([this, chunk = std::move(chunk)] {
                    for (const ForwardedDetection& detection : chunk)
                        core_.HostOutbox().Add(detection.passingId, detection.line);
                    core_.FinishBurst();
                });
            },
            stopping);
        reader_.OnWindowThread([result, done] { done(result); });
    });
}

void JournalActions::Export(const std::string& path, Print print, const std::string& keptJournal) {
    if (keptJournal.empty() && !core_.PassingJournal().IsOpen()) {
        print(LogExportFailure(path, core_.PassingJournal().OpenError()));
        return;
    }
    if (keptJournal.empty()) core_.FinishBurst();  // what is still in memory is written too
    const std::string journal = keptJournal.empty() ? core_.PassingJournal().Path() : keptJournal;
    reader_.Run([this, journal, path, print](const std::atomic<bool>& stopping) {
        const JournalReadResult written = ExportJournalCsv(journal, path, &stopping);
        reader_.OnWindowThread([written, path, print] {
            if (!written.done) {
                print(LogExportFailure(path, written.error));
                return;
            }
            const std::string message =
                Format(Tr("+++ Journal exported: %zu detections in %s",
                          "+++ Journal des passages exporté : %zu détections dans %s"),
                       written.rows, path.c_str());
            Log(0, message);
            print(message);
        });
    });
}

}  // namespace torvane
