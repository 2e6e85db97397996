// PipelineControl: the one block shared by main, the coder worker, the
// reader thread and the writer thread during a run, and `Pipeline`, which
// owns it together with the rings.
//
// Sharing rules: every flag and counter has one writer, except that any
// thread may raise `abortRun` (or main, to give up a run). `doneEarly` is
// the other way a run stops before the coder has finished: a success. Flags are only
// ever raised, through raiseFlag (a release store that wakes every thread);
// they are read with acquire loads.
//
// Waits: a thread that waits for another sleeps on its own WakeSignal
// (wake_signal.h) and whoever changes what it waits for wakes it: the
// reader (a job queued, an input slot freed), the coder (an input chunk
// published, an output slot freed, the writer done), the writer (an output
// chunk published, the output ended, a job queued) and main (a job taken
// off its ring). Raising any flag wakes all four. The
// file handles and `archivePath` are set by main before the worker starts;
// afterwards `readerFile` belongs to the reader until the worker has joined
// it, and then to the worker, which closes it if the reader left it open.
// `writerFile` (add's archive) stays main's: main appends the directory to
// it after the run.
//
// Main drives a run only through PipelineRun (pipeline_run.h): start, queue
// files, finish. Underneath, a run goes like this:
//   add      prepareForAdd (the archive stays main's);
//            startCoderWorker(encoder); queueJob on `readerJobs` per
//            non-empty file; queueEndOfJobs(readerJobs); waitForCoderWorker.
//   extract  prepareForExtract (the reader owns the archive), the target
//            folder into `writerFolder`; queueEndOfJobs(readerJobs) at once
//            (the reader reads only the archive); startCoderWorker(decoder);
//            queueJob on `writerJobs` per file, zero sizes included, a
//            nameless job for a file whose name the ring cannot carry;
//            queueEndOfJobs(writerJobs); waitForCoderWorker.
// After the worker has ended, failuresOf(report) says what failed. A queue
// call that answers `runStopped` means the run has failed: stop queueing,
// wait for the worker and read the report. abortPipeline gives a run up.
// The thread tests drive these pieces one at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/chunk_ring.h"
#include "pipeline/deferred_link.h"
#include "pipeline/file_entry.h"
#include "pipeline/pipeline_report.h"
#include "pipeline/record_ring.h"
#include "pipeline/wake_signal.h"
#include "platform/file_identity.h"
#include "platform/file_io.h"
#include "platform/unix_mode.h"

namespace qex {

// Takes every finished file of a run, on the thread that finished it (add:
// the reader; extract and test: the writer), one at a time. It must not
// call back into the run.
struct FinishedFileSink {
    void (*take)(void* owner, std::u16string_view name, uint64_t size, FileEntry* entry) = nullptr;
    void* owner = nullptr;
};

// Bits of `pipelineFlags`.
inline constexpr uint8_t kExtracting = 0x01;

// Add: the most opened sources (FileEntry::source) that wait in the job
// ring at once. Each is a descriptor; without a bound a ring of small files
// would hold thousands.
inline constexpr uint32_t kMaxHeldSources = 64;

// The input ring's consumer counter before the coder has taken a chunk.
inline constexpr uint32_t kNoChunkYet = 0xFFFFFFFFu;

inline constexpr uint64_t kUnknownBytes = UINT64_MAX;

struct PipelineControl {
    PipelineRings* rings = nullptr;
    ChunkRing* inputRing = nullptr;
    ChunkRing* outputRing = nullptr;
    FileHandle readerFile = kNoFile;  // extract: the archive; add: the file being read
    FileHandle writerFile = kNoFile;  // add: the archive; extract: where contents go (or kNoFile)
    // Extract: the open target folder when the jobs' names are relative to
    // it; files are then created within it and never through a link that
    // leaves it. Owned by main.
    FileHandle writerFolder = kNoFile;
    // Extract: the archive being read, which no extracted file may replace.
    FileIdentity writerUntouchable;
    // Extract: how stored modes become the extracted files' (unix_mode.h),
    // read by main before the threads start.
    ModeRule writerModes;
    // Extract: the links whose bytes the writer took, in stream order, to
    // be made after the run (deferred_link.h). The writer's until the
    // worker has joined it, then main's.
    std::vector<DeferredLink> deferredLinks;
    std::string archivePath;          // native path, for messages about the archive
    uint8_t pipelineFlags = 0;

    std::atomic<uint32_t> readerStop{0};   // the reader has no more input, or must stop
    std::atomic<uint32_t> writerStop{0};   // the run is over; the writer must stop
    std::atomic<uint32_t> abortRun{0};     // give up: every thread stops at its next look
    std::atomic<uint32_t> outputEnded{0};  // the coder has published its last output chunk
    std::atomic<uint32_t> writerDone{0};   // the writer has written and finished everything
    // Set by main before it queues the first job, when every finished file
    // must be shown (a log): the thread that finished a file hands it to the
    // sink itself, so no display thread stands between it and the output.
    // Null: the lossy progress ring.
    std::atomic<const FinishedFileSink*> finishedFileSink{nullptr};
    // Extract, raised by main before it ends the jobs: the writer ends the
    // run once the last file has its bytes instead of decoding the stream
    // to its end.
    std::atomic<uint32_t> stopAfterLastJob{0};
    // Raised by the writer under `stopAfterLastJob` once every file asked
    // for has its bytes: the threads stop as they would on `abortRun`, but
    // the run has succeeded, and nothing reads it as a failure.
    std::atomic<uint32_t> doneEarly{0};

    WakeSignal readerWake;
    WakeSignal coderWake;
    WakeSignal writerWake;
    WakeSignal mainWake;

    // Add: opened sources queued and not yet taken by the reader. Main
    // waits while it stands at kMaxHeldSources; the reader wakes it when it
    // has fallen to half that.
    std::atomic<uint32_t> sourcesHeld{0};

    std::atomic<uint64_t> totalIn{0};   // bytes the coder took from the input ring
    std::atomic<uint64_t> totalOut{0};  // bytes the coder published to the output ring
    // Written by the worker before it ends, read by main after joining it:
    // the input bytes the coder used up to its own end (kUnknownBytes when
    // the input ran out first or the run stopped early).
    uint64_t coderInputUsed = kUnknownBytes;

    PipelineReport report;
};

// Everything a process run needs, allocated once by the front end. The
// chunk slots (32 MiB) are left unwritten until data passes through them.
struct Pipeline {
    PipelineRings rings;
    ChunkRing inputRing;
    ChunkRing outputRing;
    PipelineControl control;
};

std::unique_ptr<Pipeline> createPipeline();

// Fill the control for a run. Add: `archive` is the created archive, which
// main keeps to append the directory. Extract: `archive` is opened for the
// reader, which owns it from now on. `archivePath` is for messages.
void prepareForAdd(Pipeline& pipeline, FileHandle archive, std::string archivePath);
void prepareForExtract(Pipeline& pipeline, FileHandle archive, std::string archivePath);

enum class QueueResult { queued, runStopped, nameTooLong };

// Main's push of a job (wakes the ring's consumer): while the ring is full,
// main sleeps until a job is taken or the pipeline has stopped (a failed
// worker never leaves main waiting).
QueueResult queueJob(PipelineControl& control, RecordRing& jobs, std::u16string_view name, uint64_t size,
                     FileEntry* entry);

// Add: waits until another opened source may be queued (fewer than
// kMaxHeldSources wait) and counts it as held. False when the pipeline has
// stopped instead.
bool holdAnotherSource(PipelineControl& control);

// The reader's take of an opened source: no longer held.
void takeHeldSource(PipelineControl& control);

// The consumer's pop of a job (the reader's or the writer's). Main, if it
// waits for room, is woken once the ring is at most half full, not at every
// pop: it then queues a batch of jobs instead of one per wake-up.
void popJob(PipelineControl& control, RecordRing& jobs);

// The end marker: no further job will come on this ring.
QueueResult queueEndOfJobs(PipelineControl& control, RecordRing& jobs);

// A finished (add: read) file for the progress display: handed to the
// run's finished-file sink when there is one, otherwise pushed on the
// lossy ring, dropping the oldest record when the ring is full.
void recordFinishedFile(PipelineControl& control, RecordRing& ring, std::u16string_view name, uint64_t size,
                        FileEntry* entry);

// Raises one of the control's flags and wakes every thread, so that each
// waiter looks at the flags again.
void raiseFlag(PipelineControl& control, std::atomic<uint32_t>& flag);

// Wakes every thread of the run.
void wakeAll(PipelineControl& control);

// Main gives up the run (for instance when the directory cannot be read):
// every pipeline thread stops at its next look.
void abortPipeline(PipelineControl& control);

bool pipelineStopped(const PipelineControl& control);

}  // namespace qex
