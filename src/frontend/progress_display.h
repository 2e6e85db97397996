// The progress display of the add and extract commands: one line per file
// from the lossy print rings, and below them a status line rewritten in
// place twice a second.
//
// On a terminal a printer thread prints every 500 ms until the command
// raises its stop flag; the command then waits for the thread to end and
// prints the final state itself, so the two prints never overlap. In a log
// every file must get its line, and the run's thread that finished the file
// writes the line itself at once (pipeline_control.h's finished-file sink):
// nobody waits for a display thread to get a processor.
//
// On a terminal, file lines are padded to 78 columns and end with a line
// feed, overwriting the status line that stood on that row; the status line
// ends with a carriage return and stays until the next print replaces it. Anywhere else (a file, a
// pipe) the output is a log: file lines unpadded, and the status line once,
// at the end, as a line of its own. A quiet console (-q) gets nothing: no
// thread is started and no line is printed.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "frontend/console_output.h"
#include "frontend/progress_doorbell.h"
#include "pipeline/pipeline_run.h"
#include "pipeline/record_ring.h"

namespace qex {

// Figures the walk (add) or the directory pass (extract) counts; written by
// the main thread only, read by the printer without a lock.
struct ProgressCounters {
    std::atomic<uint32_t> folders{0};
    std::atomic<uint32_t> files{0};
    std::atomic<uint64_t> listedBytes{0};  // add: the listing sizes of all files found
};

enum class ProgressKind { add, extract, test };

struct ProgressPrinter {
    ProgressKind kind = ProgressKind::add;
    RecordRing* ring = nullptr;  // addedFiles or extractedFiles
    const ProgressCounters* counters = nullptr;
    const std::atomic<uint64_t>* totalIn = nullptr;   // the coder's input bytes
    const std::atomic<uint64_t>* totalOut = nullptr;  // the coder's output bytes
    // Extract: the target folder, shown before the names of the jobs, which
    // are relative to it.
    std::string namePrefix;
    uint32_t startTick = 0;  // taken by the command before the printer starts
    ConsoleOutput* console = nullptr;  // where the lines go
    bool terminal = true;  // the console is a terminal: the status line is rewritten in place
    ProgressDoorbell doorbell;  // wakes the thread to end it
    FinishedFileSink logSink;   // a log's lines, written by the run's threads
    std::atomic<uint32_t> stop{0};
    std::thread thread;
};

// How often the printer thread prints on a terminal.
inline constexpr uint32_t kPrintIntervalMilliseconds = 500;
// Width every file and status line is padded to.
inline constexpr int kLineWidth = 78;

// Bytes of coder input per second: totalIn * 1000 / (elapsed + 1000), the
// elapsed milliseconds taken modulo 2^32. The added second keeps the figure
// below the true rate, most of all in the first seconds.
int32_t speedFigure(uint64_t totalIn, uint32_t startTick, uint32_t nowTick);

// The lines before padding.
std::string addFileLine(std::string_view name, uint64_t size);
std::string extractFileLine(std::string_view name, uint64_t size, uint32_t storedCrc,
                            uint32_t computedCrc);
std::string testFileLine(std::string_view name, uint64_t size, uint32_t storedCrc, uint32_t computedCrc);
std::string addStatusLine(uint32_t folders, uint32_t files, uint64_t totalIn, uint64_t listedBytes,
                          uint64_t totalOut, int32_t speed);
std::string extractStatusLine(uint32_t folders, uint32_t files, uint64_t totalIn, uint64_t totalOut,
                              int32_t speed);

// `line` left-justified in 78 columns (never cut), then `end`.
std::string paddedLine(std::string_view line, char end);

// One print: every pending file line of the ring, then (on a terminal) the
// status line.
void printProgress(ProgressPrinter& printer);

// Points the printer at its console and ring, the command's counters and the coder's
// byte totals, takes the start time of the speed figure, and looks whether
// the console is a terminal.
void attachProgressPrinter(ProgressPrinter& printer, ConsoleOutput& console, ProgressKind kind, RecordRing& ring,
                           const ProgressCounters& counters, const std::atomic<uint64_t>& totalIn,
                           const std::atomic<uint64_t>& totalOut);

// Starts the printer thread, which prints every 500 ms (runs start it only
// on a terminal). False when it cannot start: only the final print is made
// then.
bool startProgressPrinter(ProgressPrinter& printer);

// The progress of a pipeline run, set up as every command does it, before
// the first job is queued: the printer attached to the run's ring and
// totals, and on a terminal started. A log must miss no file: the run's
// threads then write each file's line themselves as they finish it.
void startRunProgress(ProgressPrinter& printer, ConsoleOutput& console, ProgressKind kind, PipelineRun& run,
                      const ProgressCounters& counters);

// Raises the stop flag, waits for the thread, prints the final state and a
// line feed, so that the final status line stays on the screen.
void finishProgressPrinter(ProgressPrinter& printer);

}  // namespace qex
