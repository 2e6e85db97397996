// Progress lines and the status line (see progress_display.h).
#include "frontend/progress_display.h"

#include <cinttypes>
#include <system_error>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/paths.h"
#include "platform/text_conversion.h"

namespace qex {

namespace {

template <typename... Values>
std::string formatted(const char* pattern, Values... values) {
    char text[160];
    const int length = std::snprintf(text, sizeof text, pattern, values...);
    return std::string(text, length < 0 ? 0 : static_cast<size_t>(length));
}

// `label` "name" `tail`, built by appending (no temporaries to insert into).
std::string fileLine(std::string_view label, std::string_view name, std::string_view tail) {
    std::string text;
    text.reserve(label.size() + name.size() + tail.size() + 2);
    text.append(label);
    text.push_back('"');
    text.append(name);
    text.push_back('"');
    text.append(tail);
    return text;
}

// A line as the output takes it: padded over the status line on a
// terminal, as it is in a log.
void printLine(const ProgressPrinter& printer, std::string_view line, char end) {
    if (printer.terminal) {
        writeConsole(*printer.console, paddedLine(line, end));
        return;
    }
    std::string plain(line);
    plain.push_back('\n');
    writeConsole(*printer.console, plain);
}

void printStatusLine(ProgressPrinter& printer) {
    const uint64_t totalIn = printer.totalIn->load(std::memory_order_relaxed);
    const int32_t speed = speedFigure(totalIn, printer.startTick, tickMilliseconds());
    const ProgressCounters& counters = *printer.counters;
    const uint32_t folders = counters.folders.load(std::memory_order_relaxed);
    const uint32_t files = counters.files.load(std::memory_order_relaxed);
    const uint64_t totalOut = printer.totalOut->load(std::memory_order_relaxed);
    if (printer.kind == ProgressKind::add) {
        const uint64_t listed = counters.listedBytes.load(std::memory_order_relaxed);
        printLine(printer, addStatusLine(folders, files, totalIn, listed, totalOut, speed), '\r');
    } else {
        printLine(printer, extractStatusLine(folders, files, totalIn, totalOut, speed), '\r');
    }
}

void printFileLine(const ProgressPrinter& printer, std::u16string_view units, uint64_t size,
                   const FileEntry* entry) {
    // Names go to the console escaped (text_conversion.h), as UTF-8 on
    // Linux or in its code page on Windows, without the long-path prefix.
    std::string name = withoutLongPathPrefix(consoleText(units));
    if (printer.kind == ProgressKind::add) {
        printLine(printer, addFileLine(name, size), '\n');
        return;
    }
    if (!printer.namePrefix.empty()) {
        name = joinPath(printer.namePrefix, name);
    }
    const uint32_t stored = entry != nullptr ? entry->crc : 0;
    const uint32_t computed = entry != nullptr ? entry->writtenCrc : 0;
    printLine(printer,
              printer.kind == ProgressKind::test ? testFileLine(name, size, stored, computed)
                                                 : extractFileLine(name, size, stored, computed),
              '\n');
}

// A log's line for one finished file, written by the run's thread that
// finished it, and flushed at once as the display's prints were.
void writeLogLine(void* owner, std::u16string_view name, uint64_t size, FileEntry* entry) {
    ProgressPrinter& printer = *static_cast<ProgressPrinter*>(owner);
    printFileLine(printer, name, size, entry);
    flushConsole(*printer.console);
}

}  // namespace

int32_t speedFigure(uint64_t totalIn, uint32_t startTick, uint32_t nowTick) {
    constexpr uint32_t kAddedMilliseconds = 1000;
    const uint32_t divisor = nowTick - startTick + kAddedMilliseconds;  // modulo 2^32
    if (divisor == 0) return 0;  // only when the tick has run almost 49.7 days
    const int64_t perSecond =
        static_cast<int64_t>(totalIn * 1000) / static_cast<int64_t>(static_cast<uint64_t>(divisor));
    return static_cast<int32_t>(perSecond);
}

std::string addFileLine(std::string_view name, uint64_t size) {
    return fileLine("Adding ", name, formatted(":%" PRIu64, size));
}

std::string extractFileLine(std::string_view name, uint64_t size, uint32_t storedCrc,
                            uint32_t computedCrc) {
    return fileLine("Extracting ", name,
                    formatted(":%" PRIu64 " %08X %08X", size, storedCrc, computedCrc));
}

std::string testFileLine(std::string_view name, uint64_t size, uint32_t storedCrc, uint32_t computedCrc) {
    return fileLine("Testing ", name, formatted(":%" PRIu64 " %08X %08X", size, storedCrc, computedCrc));
}

std::string addStatusLine(uint32_t folders, uint32_t files, uint64_t totalIn, uint64_t listedBytes,
                          uint64_t totalOut, int32_t speed) {
    return formatted("d=%" PRIi32 " f=%" PRIi32 " in=%" PRIu64 "/%" PRIu64 " out=%" PRIu64
                     " speed=%" PRIi32,
                     static_cast<int32_t>(folders), static_cast<int32_t>(files), totalIn,
                     listedBytes, totalOut, speed);
}

std::string extractStatusLine(uint32_t folders, uint32_t files, uint64_t totalIn, uint64_t totalOut,
                              int32_t speed) {
    return formatted("d=%" PRIi32 " f=%" PRIi32 " in=%" PRIu64 " out=%" PRIu64 " speed=%" PRIi32,
                     static_cast<int32_t>(folders), static_cast<int32_t>(files), totalIn, totalOut,
                     speed);
}

std::string paddedLine(std::string_view line, char end) {
    std::string padded(line);
    if (padded.size() < static_cast<size_t>(kLineWidth)) padded.resize(kLineWidth, ' ');
    padded.push_back(end);
    return padded;
}

void printProgress(ProgressPrinter& printer) {
    if (printer.console->quiet) return;
    TakenRecord record;
    while (takeOldest(*printer.ring, record)) printFileLine(printer, record.name, record.size, record.entry);
    if (printer.terminal) printStatusLine(printer);
    flushConsole(*printer.console);
}

void attachProgressPrinter(ProgressPrinter& printer, ConsoleOutput& console, ProgressKind kind, RecordRing& ring,
                           const ProgressCounters& counters, const std::atomic<uint64_t>& totalIn,
                           const std::atomic<uint64_t>& totalOut) {
    printer.kind = kind;
    printer.ring = &ring;
    printer.counters = &counters;
    printer.totalIn = &totalIn;
    printer.totalOut = &totalOut;
    printer.startTick = tickMilliseconds();
    printer.console = &console;
    printer.terminal = isTerminal(console.stream);
}

bool startProgressPrinter(ProgressPrinter& printer) {
    if (printer.console->quiet) return false;  // nothing to print: the rings may drop every record
    try {
        printer.thread = std::thread([&printer] {
            ProgressDoorbell& bell = printer.doorbell;
            for (;;) {
                // Taken before the print: a call during it is not lost.
                const uint32_t ticket = callsSoFar(bell);
                printProgress(printer);
                if (printer.stop.load(std::memory_order_acquire) != 0) return;
                awaitCall(bell, ticket, kPrintIntervalMilliseconds);
            }
        });
    } catch (const std::system_error&) {
        return false;  // without the thread only the final print is made
    }
    return true;
}

void startRunProgress(ProgressPrinter& printer, ConsoleOutput& console, ProgressKind kind, PipelineRun& run,
                      const ProgressCounters& counters) {
    const RunProgress progress = progressOf(run);
    attachProgressPrinter(printer, console, kind, *progress.finishedFiles, counters, *progress.coderIn,
                          *progress.coderOut);
    if (console.quiet) return;  // nothing to print: the ring may drop every record
    if (printer.terminal) {
        startProgressPrinter(printer);
        return;
    }
    printer.logSink = FinishedFileSink{writeLogLine, &printer};
    sendFinishedFilesTo(run, printer.logSink);
}

void finishProgressPrinter(ProgressPrinter& printer) {
    printer.stop.store(1, std::memory_order_release);
    callDisplay(printer.doorbell);  // a printer asleep ends now, not after its interval
    if (printer.thread.joinable()) printer.thread.join();
    if (printer.console->quiet) return;
    printProgress(printer);
    if (printer.terminal) {
        writeConsole(*printer.console, "\n");  // the status line printed last stays
    } else {
        printStatusLine(printer);
    }
    flushConsole(*printer.console);
}

}  // namespace qex
