// The reader loop, the file finish and the job take.
#include "pipeline/reader_thread.h"

#include <algorithm>
#include <string>

#include "base/invariants.h"
#include "pipeline/check_values.h"
#include "platform/text_conversion.h"
#include "platform/unix_mode.h"

namespace qex {

namespace {

// The reader may run this many chunks ahead of the chunk the coder reads.
constexpr uint32_t kMaxReadAhead = kChunkSlots - 1;

struct ReaderState {
    explicit ReaderState(PipelineControl& control) : control(control) {}

    PipelineControl& control;
    bool extracting = false;
    std::string path;  // native path of the file being read, for messages
    uint64_t listedBytes = 0;  // add: the size the walk saw; no more is read
    uint64_t bytesRead = 0;
    uint32_t crc = 0;
    uint32_t crcPlusOne = 0;
    // Add: the job is a symbolic link or a hard link; its target or the
    // path of its first name is handed out from here as a file's bytes
    // would be from the open file.
    bool readingLink = false;
    std::string linkTarget;
    size_t linkOffset = 0;
};

bool readerMustStop(const PipelineControl& control) {
    return control.readerStop.load(std::memory_order_acquire) != 0 ||
           control.abortRun.load(std::memory_order_acquire) != 0 ||
           control.doneEarly.load(std::memory_order_acquire) != 0;
}

// Closes the file and, on add, stores what entered the stream into the
// job's entry before the job is popped.
void finishSource(ReaderState& state) {
    PipelineControl& control = state.control;
    if (control.readerFile != kNoFile) {
        ignoreFailure(closeFile(control.readerFile));  // only read from
        control.readerFile = kNoFile;
    }
    state.readingLink = false;
    if (state.extracting) return;
    RecordRing& jobs = control.rings->readerJobs;
    RingRecord job;
    if (!peek(jobs, job)) return;
    if (job.entry != nullptr) {
        job.entry->size = state.bytesRead;
        job.entry->crc = state.crc;
        job.entry->crcPlusOne = state.crcPlusOne;
    }
    popJob(control, jobs);
}

// Add: a file that failed before any of its bytes entered the stream is
// left out of the directory (marked `unread`); one that failed later keeps
// the bytes that did, and the message says which it was.
void reportReadFailure(ReaderState& state, const std::string& reason) {
    if (state.extracting) {
        reportFailure(state.control.report, FailureKind::archiveReadFailed, state.control.archivePath, reason);
        return;
    }
    RingRecord job;
    const bool nothingRead = state.bytesRead == 0;
    if (nothingRead && peek(state.control.rings->readerJobs, job) && job.entry != nullptr) job.entry->unread = true;
    reportFailure(state.control.report, FailureKind::sourceUnreadable, state.path,
                  nothingRead ? reason + " (not stored)"
                              : reason + "; the first " + std::to_string(state.bytesRead) + " bytes were stored");
}

void takeReadJob(ReaderState& state) {
    PipelineControl& control = state.control;
    RingRecord job;
    const uint32_t ticket = takeTicket(control.readerWake);
    if (!peek(control.rings->readerJobs, job)) {
        sleepPast(control.readerWake, ticket);
        return;
    }
    if (job.endOfJobs) {
        // The marker stays: the ring is not used again in this run.
        raiseFlag(control, control.readerStop);
        return;
    }
    state.path = utf16ToNative(job.name);
    recordFinishedFile(control, control.rings->addedFiles, job.name, job.size, nullptr);
    state.listedBytes = job.size;
    state.bytesRead = 0;
    state.crc = 0;
    state.crcPlusOne = 0;
    // An opened source becomes the reader's at once, whatever happens to it.
    FileHandle source = kNoFile;
    if (job.entry != nullptr && job.entry->source != kNoFile) {
        source = job.entry->source;
        job.entry->source = kNoFile;
        takeHeldSource(control);
    }
    if (job.entry != nullptr && job.entry->givenBytes != nullptr) {
        if (source != kNoFile) ignoreFailure(closeFile(source));  // only read from
        state.readingLink = true;
        state.linkTarget = *job.entry->givenBytes;
        state.linkOffset = 0;
        return;
    }
    if (job.entry != nullptr && job.entry->symbolicLink) {
        SystemResult<std::string> target =
            source != kNoFile ? readOpenLinkTarget(source) : readLinkTarget(state.path.c_str());
        if (source != kNoFile) ignoreFailure(closeFile(source));  // only read from
        if (!target.ok()) {
            reportReadFailure(state, systemReason(target.error));
            finishSource(state);
            return;
        }
        state.readingLink = true;
        state.linkTarget = std::move(target.value);
        state.linkOffset = 0;
        return;
    }
    if (source != kNoFile) {
        control.readerFile = source;
        return;
    }
    const SystemResult<FileHandle> opened = openForRead(state.path.c_str());
    if (!opened.ok()) {
        // Nothing of it enters the stream: its entry is left out, and the
        // job is done so that the files after it are read.
        reportReadFailure(state, systemReason(opened.error));
        finishSource(state);
        return;
    }
    control.readerFile = opened.value;
}

// Up to `want` bytes of the current job: from the open file, or from the
// link target read for it.
SystemResult<size_t> readSome(ReaderState& state, unsigned char* slot, uint32_t want) {
    if (!state.readingLink) return readFull(state.control.readerFile, slot, want);
    const size_t count = std::min<size_t>(want, state.linkTarget.size() - state.linkOffset);
    std::copy_n(state.linkTarget.data() + state.linkOffset, count, slot);
    state.linkOffset += count;
    return {count, 0};
}

// A file whose bytes were read up to the size the walk listed (which the
// front end has checked against what an entry can describe). Anything
// beyond it is left out; the entry holds what entered the stream.
void finishSourceAtLimit(ReaderState& state) {
    unsigned char probe;
    const SystemResult<size_t> more = readSome(state, &probe, 1);
    if (more.ok() && more.value > 0)
        reportFailure(state.control.report, FailureKind::sourceChanged, state.path,
                      "it grew beyond the " + std::to_string(state.listedBytes) +
                          " bytes listed; those were stored");
    finishSource(state);
}

// A file that ended before its listed size.
void finishShortSource(ReaderState& state) {
    if (!state.extracting && state.bytesRead < state.listedBytes)
        reportFailure(state.control.report, FailureKind::sourceChanged, state.path,
                      "it shrank from the " + std::to_string(state.listedBytes) + " bytes listed to " +
                          std::to_string(state.bytesRead) + "; those were stored");
    finishSource(state);
}

// One chunk from the open file. Returns false when the file has ended.
bool readChunk(ReaderState& state) {
    PipelineControl& control = state.control;
    ChunkRing& ring = *control.inputRing;
    const uint32_t produced = ring.produced.load(std::memory_order_relaxed);
    uint32_t want = kChunkBytes;
    if (!state.extracting) {
        const uint64_t room = state.listedBytes - state.bytesRead;
        if (room == 0) {
            finishSourceAtLimit(state);
            return false;
        }
        want = static_cast<uint32_t>(std::min<uint64_t>(want, room));
    }
    // The slot filled is never the one the coder reads.
    QEX_ASSERT(produced - ring.consumed.load(std::memory_order_acquire) <= kMaxReadAhead);
    unsigned char* slot = slotData(ring, produced);
    const SystemResult<size_t> read = readSome(state, slot, want);
    if (!read.ok()) {
        reportReadFailure(state, systemReason(read.error));
        finishSource(state);
        return false;
    }
    const size_t got = read.value;
    if (got == 0) {
        finishShortSource(state);
        return false;
    }
    if (!state.extracting) {
        state.bytesRead += static_cast<uint64_t>(got);
        updateCheckValues(state.crc, state.crcPlusOne, slot, static_cast<size_t>(got));
    }
    slotSize(ring, produced) = static_cast<int32_t>(got);
    ring.produced.store(produced + 1, std::memory_order_release);
    wake(control.coderWake);
    // Reads fill the buffer unless the file ends.
    if (got < want) {
        finishShortSource(state);
        return false;
    }
    return true;
}

}  // namespace

void runReaderThread(PipelineControl& control) {
    ReaderState state(control);
    state.extracting = (control.pipelineFlags & kExtracting) != 0;
    ChunkRing& ring = *control.inputRing;
    while (!readerMustStop(control)) {
        if (control.readerFile == kNoFile && !state.readingLink) {
            takeReadJob(state);
            continue;
        }
        // A file left open here (stop in mid-file) is closed by the worker.
        while (!readerMustStop(control)) {
            const uint32_t ticket = takeTicket(control.readerWake);
            const uint32_t ahead = ring.produced.load(std::memory_order_relaxed) -
                                   ring.consumed.load(std::memory_order_acquire);
            if (ahead > kMaxReadAhead) {
                sleepPast(control.readerWake, ticket);
                continue;
            }
            if (!readChunk(state)) break;
        }
    }
}

}  // namespace qex
