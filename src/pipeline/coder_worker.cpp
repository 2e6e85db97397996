// The coder worker's run: start-up, the pump loop, the end and clean-up.
#include "pipeline/coder_worker.h"

#include <string>
#include <system_error>

#include "base/invariants.h"
#include "pipeline/coder_coroutine.h"
#include "pipeline/reader_thread.h"
#include "pipeline/writer_thread.h"

namespace qex {

namespace {

// At most this many output chunks are published and not yet released; the
// slot being filled is then never the one the writer works on.
constexpr uint32_t kMaxOutstandingOutput = kChunkSlots - 1;

struct WorkerRun {
    WorkerRun(PipelineControl& control, const CoderBody& body) : control(control), body(body) {}

    PipelineControl& control;
    const CoderBody& body;
    void* coder = nullptr;
    CoderIo* io = nullptr;
    CoroutineContext coroutine;
    std::thread reader;
    std::thread writer;
    bool inputEnded = false;
    // Handed out once the input has ended, so the read that finds the end
    // still gets a byte.
    unsigned char dummyInput[4] = {0, 0, 0, 0};
};

bool aborted(const PipelineControl& control) { return control.abortRun.load(std::memory_order_acquire) != 0; }

// Given up, or ended early by the writer with every file asked for: either
// way the coder is resumed no more.
bool stopping(const PipelineControl& control) {
    return aborted(control) || control.doneEarly.load(std::memory_order_acquire) != 0;
}

void startFailed(PipelineControl& control, const std::string& reason) {
    reportFailure(control.report, FailureKind::workerStartFailed, std::string(), reason);
    abortPipeline(control);
}

// The coroutine's body: the coder's loop, then the final suspension.
void coroutineBody(void* argument) {
    WorkerRun& run = *static_cast<WorkerRun*>(argument);
    run.body.run(run.coder);
}

void suspendForInput(CoderIo& io) { switch_context(*static_cast<CoroutineContext*>(io.owner), kNeedInput); }
void suspendForOutput(CoderIo& io) { switch_context(*static_cast<CoroutineContext*>(io.owner), kOutputFull); }

void handOutDummy(WorkerRun& run) {
    run.io->inPtr = run.dummyInput;
    run.io->inEnd = run.dummyInput + sizeof run.dummyInput;
}

// Takes the next input chunk, or signals the end of input when the reader
// has stopped and nothing is left.
void takeInputChunk(WorkerRun& run) {
    if (run.inputEnded) {
        handOutDummy(run);
        return;
    }
    PipelineControl& control = run.control;
    ChunkRing& ring = *control.inputRing;
    const uint32_t current = ring.consumed.load(std::memory_order_relaxed) + 1;
    ring.consumed.store(current, std::memory_order_release);
    wake(control.readerWake);
    waitUntil(control.coderWake, [&] {
        return ring.produced.load(std::memory_order_acquire) != current ||
               control.readerStop.load(std::memory_order_acquire) != 0 || stopping(control);
    });
    // Loaded again: the reader publishes its last chunk before it stops.
    if (ring.produced.load(std::memory_order_acquire) == current) {
        run.inputEnded = true;
        run.io->endOfInput = 1;
        handOutDummy(run);
        return;
    }
    // The reader never runs more than a ring ahead of the chunk taken.
    QEX_ASSERT(ring.produced.load(std::memory_order_acquire) - current <= kChunkSlots);
    const int32_t size = slotSize(ring, current);
    QEX_ASSERT(size > 0 && static_cast<uint32_t>(size) <= kChunkBytes);
    control.totalIn.fetch_add(static_cast<uint64_t>(size), std::memory_order_relaxed);
    run.io->inPtr = slotData(ring, current);
    run.io->inEnd = run.io->inPtr + size;
}

void assignOutputSlot(WorkerRun& run) {
    ChunkRing& ring = *run.control.outputRing;
    unsigned char* slot = slotData(ring, ring.produced.load(std::memory_order_relaxed));
    run.io->outPtr = slot;
    run.io->outStart = slot;
    run.io->outEnd = slot + kChunkBytes;
}

// Publishes the output chunk in progress once the writer has room; false
// when the run was stopped meanwhile.
bool publishOutputChunk(WorkerRun& run) {
    PipelineControl& control = run.control;
    ChunkRing& ring = *control.outputRing;
    const uint32_t produced = ring.produced.load(std::memory_order_relaxed);
    waitUntil(control.coderWake, [&] {
        return produced - ring.consumed.load(std::memory_order_acquire) < kMaxOutstandingOutput ||
               stopping(control);
    });
    if (stopping(control)) return false;
    QEX_ASSERT(produced - ring.consumed.load(std::memory_order_acquire) < kMaxOutstandingOutput);
    const auto size = static_cast<int32_t>(run.io->outPtr - run.io->outStart);
    QEX_ASSERT(size >= 0 && static_cast<uint32_t>(size) <= kChunkBytes);
    slotSize(ring, produced) = size;
    ring.produced.store(produced + 1, std::memory_order_release);
    wake(control.writerWake);
    control.totalOut.fetch_add(static_cast<uint64_t>(size), std::memory_order_relaxed);
    return true;
}

// How the pump loop ended.
enum class PumpEnd {
    coderFinished,  // every output chunk is published
    stopped,        // given up (a failure is reported), or done early (a success)
};

// Resumes the coder until it has finished or the run stops.
PumpEnd pump(WorkerRun& run) {
    takeInputChunk(run);
    assignOutputSlot(run);
    for (;;) {
        if (stopping(run.control)) return PumpEnd::stopped;
        const uint32_t code = resume_coder(run.coroutine);
        if (code == kNeedInput) {
            takeInputChunk(run);
            continue;
        }
        if (!publishOutputChunk(run)) return PumpEnd::stopped;
        if (code == kFinished) return PumpEnd::coderFinished;
        assignOutputSlot(run);
    }
}

// The coder has ended by itself: the input bytes it used, which on extract
// is where the coded stream ends. Unknown when it ran past its input.
void noteInputUsed(WorkerRun& run) {
    if (run.inputEnded) return;
    const auto unread = static_cast<uint64_t>(run.io->inEnd - run.io->inPtr);
    run.control.coderInputUsed = run.control.totalIn.load(std::memory_order_relaxed) - unread;
}

bool startThreads(WorkerRun& run) {
    try {
        run.reader = std::thread(runReaderThread, std::ref(run.control));
        run.writer = std::thread(runWriterThread, std::ref(run.control));
    } catch (const std::system_error& error) {
        startFailed(run.control, std::string("cannot start a pipeline thread: ") + error.what());
        return false;
    }
    return true;
}

// The end of a run that coded everything: once the last output chunk is
// published, waits until the writer has finished every file (including
// zero-byte files after the last byte); the threads are stopped afterwards.
void waitForWriterDone(WorkerRun& run) {
    PipelineControl& control = run.control;
    raiseFlag(control, control.outputEnded);
    waitUntil(control.coderWake, [&] {
        return control.writerDone.load(std::memory_order_acquire) != 0 || aborted(control);
    });
}

void stopAndJoinThreads(WorkerRun& run) {
    raiseFlag(run.control, run.control.readerStop);
    raiseFlag(run.control, run.control.writerStop);
    if (run.reader.joinable()) run.reader.join();
    if (run.writer.joinable()) run.writer.join();
}

// After the reader has ended: closes the file it left open (stopped in
// mid-file). Only read from, so a failed close loses nothing.
void closeLeftHandles(PipelineControl& control) {
    if (control.readerFile != kNoFile) {
        ignoreFailure(closeFile(control.readerFile));
        control.readerFile = kNoFile;
    }
}

}  // namespace

void runCoderWorker(PipelineControl& control, const CoderBody& body, size_t arenaBytes) {
    WorkerRun run(control, body);
    run.coder = body.create(arenaBytes);
    if (run.coder == nullptr) {
        startFailed(control, "cannot obtain " + std::to_string(arenaBytes >> 20) + " MiB for the model");
    } else if (const SystemStatus stack = createCoroutine(run.coroutine, &coroutineBody, &run); !stack.ok()) {
        startFailed(control, "cannot obtain the coder's stack: " + systemReason(stack.error));
        run.coroutine = CoroutineContext{};
    } else if (startThreads(run)) {
        // No thread is bound to a processor: bound, the coder could not
        // move away from another program busy on its processor, and would
        // run at half speed or worse while the other processor stood idle.
        // Left to the scheduler it loses nothing measurable on a quiet
        // machine (README, "Benchmarks").
        CoderIo& io = body.io(run.coder);
        run.io = &io;
        io.owner = &run.coroutine;
        io.refill = &suspendForInput;
        io.drain = &suspendForOutput;
        io.endOfInput = 0;
        if (pump(run) == PumpEnd::coderFinished) {
            noteInputUsed(run);
            waitForWriterDone(run);
        }
    }
    stopAndJoinThreads(run);
    closeLeftHandles(control);
    destroyCoroutine(run.coroutine);
    if (run.coder != nullptr) body.destroy(run.coder);
}

bool startCoderWorker(CoderWorker& worker, PipelineControl& control, const CoderBody& body, size_t arenaBytes) {
    try {
        worker.thread = std::thread([&control, body, arenaBytes] { runCoderWorker(control, body, arenaBytes); });
    } catch (const std::system_error& error) {
        startFailed(control, std::string("cannot start the coder thread: ") + error.what());
        raiseFlag(control, control.readerStop);
        raiseFlag(control, control.writerStop);
        return false;
    }
    return true;
}

void waitForCoderWorker(CoderWorker& worker) {
    if (worker.thread.joinable()) worker.thread.join();
}

}  // namespace qex
