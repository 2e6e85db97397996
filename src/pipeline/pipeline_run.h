// PipelineRun: one add or extract run of the pipeline as main drives it.
//
// The whole protocol between main and the pipeline threads lives behind
// these calls: start a run (the coder worker, which starts the reader and
// the writer), queue the files one by one in stream order, finish (end the
// jobs, wait until every thread has ended) and read what failed. Main never
// touches the job rings, the control flags or the handles the threads own.
//
//   PipelineRun run;
//   if (!startAddRun(run, pipeline, archive, path)) -> finishRun(run) says why
//   queueFile(run, name, size, &entry) per file      -> queued / nameTooLong / runStopped
//   std::vector<PipelineFailure> failed = finishRun(run);
//
// Add queues the files to read (only non-empty ones: an empty file has
// nothing to read); each entry gets the size and check values of exactly
// the bytes that entered the stream. Extract queues every file of the
// directory in order, zero sizes included; each file takes its byte count
// from the decoded stream.
//
// A name the job ring cannot carry is refused for that file alone
// (`nameTooLong`): on extract its bytes still pass through, unwritten, so
// every later file gets its own; the run goes on either way. `runStopped`
// means the run has failed (the report says why): stop queueing and finish.
// A file queued with an empty name (and an entry) passes through
// unwritten: its bytes are taken from the stream and checked, nothing is
// made. Into a target folder, the first file whose bytes fail their check
// values (or that the stream ends inside) ends the run: its entry is marked
// `damaged` and queueFile returns `runStopped`.
// An entry handed to queueFile must stay where it is, untouched, until
// finishRun has returned.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "coder/stream_coder.h"
#include "pipeline/coder_worker.h"
#include "pipeline/file_entry.h"
#include "pipeline/pipeline_control.h"
#include "pipeline/pipeline_report.h"
#include "platform/file_io.h"

namespace qex {

struct PipelineRun {
    Pipeline* pipeline = nullptr;
    bool extracting = false;
    bool workerStarted = false;  // finishRun must end the jobs and wait for it
    CoderWorker worker;
};

// Starts an add run: the files' compressed stream goes to `archive`, which
// stays open and main's (it appends the directory after the run).
// `archivePath` is for messages. False when the run could not start:
// finishRun then returns the reason.
bool startAddRun(PipelineRun& run, Pipeline& pipeline, FileHandle archive, std::string archivePath,
                 const CoderBody& body = encoderBody(), size_t arenaBytes = kArenaBytes);

// Starts an extract run: the stream is read from `archive`, which the run
// owns from now on, whatever the outcome. Files are created within
// `targetFolder` (their names relative to it, never through a link that
// leaves it, never replacing the archive itself), or at their names as
// given when it is kNoFile. The target folder stays main's.
bool startExtractRun(PipelineRun& run, Pipeline& pipeline, FileHandle archive, std::string archivePath,
                     FileHandle targetFolder, const CoderBody& body = decoderBody(),
                     size_t arenaBytes = kArenaBytes);

// Starts an extract run that creates nothing: the bytes of every file
// queued to be written go to `contents` (standard output), one file after
// another in stream order. The run owns `contents` as it owns `archive`. A
// file whose bytes fail their check values, or a failed write to
// `contents`, ends the run (the bytes already written stay written).
bool startContentsRun(PipelineRun& run, Pipeline& pipeline, FileHandle archive, std::string archivePath,
                      FileHandle contents, const CoderBody& body = decoderBody(),
                      size_t arenaBytes = kArenaBytes);

// The next file of the run (see the top of this file). Waits while the job
// ring is full.
QueueResult queueFile(PipelineRun& run, std::u16string_view name, uint64_t size, FileEntry* entry);

// Extract: the next file's bytes pass through unwritten (a file not asked
// for, or every file when testing); `entry` (required) still gets their
// check values and `received`. With a name the file is shown by the
// progress display; without one it passes unseen. Waits while the job ring
// is full.
QueueResult queuePassThrough(PipelineRun& run, std::u16string_view name, uint64_t size, FileEntry& entry);

// How much of the stream an extract run decodes.
enum class RunEnd {
    wholeStream,       // to its end: bytes beyond the last file are reported
    afterQueuedFiles,  // only until the last queued file has its bytes
};

// Every finished file of the run goes to `sink` (pipeline_control.h), on
// the thread that finished it, instead of the lossy progress ring. Called
// before the first job is queued; the sink outlives finishRun.
void sendFinishedFilesTo(PipelineRun& run, const FinishedFileSink& sink);

// No further file: waits until the run has ended (its threads joined, its
// handles closed, its entries complete) and returns what failed, in the
// order it happened. Also the way to learn why a run did not start.
std::vector<PipelineFailure> finishRun(PipelineRun& run, RunEnd end = RunEnd::wholeStream);

// Extract, after finishRun with RunEnd::wholeStream: how many bytes of the
// archive, from its start, the decoder read up to the stream's end symbol.
// The decoder reads exactly the bytes the encoder wrote (the range coder's
// final bytes included), so in a sound archive this is where the directory
// begins. kUnknownBytes when the stream did not end before the archive did,
// or the run stopped early.
uint64_t streamBytesDecoded(const PipelineRun& run);

// Extract, after finishRun: the links the run took from the stream, in
// order, for the caller to make now that every file is in place
// (deferred_link.h). Their entries are the ones queued.
std::vector<DeferredLink> takeDeferredLinks(PipelineRun& run);

// What a progress display watches while the run goes on.
struct RunProgress {
    RecordRing* finishedFiles = nullptr;  // lossy: add: files read; extract: files written
    const std::atomic<uint64_t>* coderIn = nullptr;   // bytes the coder has taken
    const std::atomic<uint64_t>* coderOut = nullptr;  // bytes the coder has given
};

RunProgress progressOf(PipelineRun& run);

}  // namespace qex
