// CoderWorker: the thread that runs the coder over the chunk rings.
//
// It obtains the coder (the model's arena), starts the reader and writer
// threads, and then pumps: it resumes the coder coroutine, hands it the next
// input chunk when it needs input, and publishes its output chunk when the
// chunk is full or the coder has finished. At the end it waits until the
// writer has finished every file, stops and joins the reader and writer,
// closes what they left open and frees the coder. A failure to start (a
// thread, the coroutine's stack, the arena) is reported and stops the run,
// so main never waits for a worker that is gone.
#pragma once

#include <cstddef>
#include <thread>

#include "coder/coder_io.h"
#include "coder/stream_coder.h"
#include "pipeline/pipeline_control.h"

namespace qex {

// One kind of coder as the worker drives it.
struct CoderBody {
    // The coder's state for one run; null when its memory cannot be obtained.
    void* (*create)(size_t arenaBytes) = nullptr;
    // The byte io the body reads and writes; the worker sets its buffers and hooks.
    CoderIo& (*io)(void* coder) = nullptr;
    // The loop over getByte/putByte: returns when the coder has finished.
    void (*run)(void* coder) = nullptr;
    void (*destroy)(void* coder) = nullptr;
};

// The stream coder's encoder (add) and decoder (extract).
CoderBody encoderBody();
CoderBody decoderBody();

// The worker thread's body: one whole run.
void runCoderWorker(PipelineControl& control, const CoderBody& body, size_t arenaBytes);

struct CoderWorker {
    std::thread thread;
};

// Starts the worker thread. False (reported, run stopped) when the thread
// cannot be created.
bool startCoderWorker(CoderWorker& worker, PipelineControl& control, const CoderBody& body,
                      size_t arenaBytes = kArenaBytes);

// Waits until the worker has ended: the run is over, its threads joined and
// its handles closed; the entries and the report are complete.
void waitForCoderWorker(CoderWorker& worker);

}  // namespace qex
