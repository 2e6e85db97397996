// Setting up a run and main's side of the job rings.
#include "pipeline/pipeline_control.h"

#include <initializer_list>
#include <mutex>
#include <utility>

namespace qex {

std::unique_ptr<Pipeline> createPipeline() {
    // Default-initialised on purpose: the slot arrays stay untouched.
    return std::unique_ptr<Pipeline>(new Pipeline);
}

namespace {

void resetRun(Pipeline& pipeline, std::string archivePath) {
    PipelineControl& control = pipeline.control;
    control.rings = &pipeline.rings;
    control.inputRing = &pipeline.inputRing;
    control.outputRing = &pipeline.outputRing;
    control.archivePath = std::move(archivePath);
    control.writerFolder = kNoFile;
    control.writerUntouchable = FileIdentity{};
    control.deferredLinks.clear();
    control.readerStop.store(0);
    control.writerStop.store(0);
    control.finishedFileSink.store(nullptr);
    control.stopAfterLastJob.store(0);
    control.doneEarly.store(0);
    control.abortRun.store(0);
    control.outputEnded.store(0);
    control.writerDone.store(0);
    control.totalIn.store(0);
    control.totalOut.store(0);
    control.coderInputUsed = kUnknownBytes;
    control.sourcesHeld.store(0);
    pipeline.inputRing.produced.store(0);
    pipeline.inputRing.consumed.store(kNoChunkYet);
    pipeline.outputRing.produced.store(0);
    pipeline.outputRing.consumed.store(0);
    // A previous run may have left its end markers behind.
    for (RecordRing* ring : {&pipeline.rings.readerJobs, &pipeline.rings.writerJobs,
                             &pipeline.rings.addedFiles, &pipeline.rings.extractedFiles}) {
        while (!isEmpty(*ring)) pop(*ring);
    }
    std::lock_guard<std::mutex> hold(control.report.lock);
    control.report.failures.clear();
    control.report.keptFileFailures = 0;
    control.report.unlistedFileFailures = 0;
}

}  // namespace

void prepareForAdd(Pipeline& pipeline, FileHandle archive, std::string archivePath) {
    resetRun(pipeline, std::move(archivePath));
    pipeline.control.readerFile = kNoFile;
    pipeline.control.writerFile = archive;
    pipeline.control.pipelineFlags = 0;
}

void prepareForExtract(Pipeline& pipeline, FileHandle archive, std::string archivePath) {
    resetRun(pipeline, std::move(archivePath));
    pipeline.control.readerFile = archive;
    pipeline.control.writerFile = kNoFile;
    pipeline.control.pipelineFlags = kExtracting;
    pipeline.control.writerModes = currentModeRule();
}

bool pipelineStopped(const PipelineControl& control) {
    return control.abortRun.load(std::memory_order_acquire) != 0 ||
           control.writerStop.load(std::memory_order_acquire) != 0;
}

namespace {

// The thread that takes jobs off `jobs`.
WakeSignal& consumerOf(PipelineControl& control, const RecordRing& jobs) {
    return &jobs == &control.rings->readerJobs ? control.readerWake : control.writerWake;
}

// Pushes a record with `pushOne` while the ring has room, sleeping while it
// is full until a job is taken or the pipeline has stopped.
template <typename PushOne>
QueueResult queueRecord(PipelineControl& control, RecordRing& jobs, PushOne pushOne) {
    for (;;) {
        const uint32_t ticket = takeTicket(control.mainWake);
        const PushResult result = pushOne();
        if (result == PushResult::accepted) {
            wake(consumerOf(control, jobs));
            return QueueResult::queued;
        }
        if (result == PushResult::tooLong) return QueueResult::nameTooLong;
        if (pipelineStopped(control)) return QueueResult::runStopped;
        sleepPast(control.mainWake, ticket);
    }
}

}  // namespace

QueueResult queueJob(PipelineControl& control, RecordRing& jobs, std::u16string_view name, uint64_t size,
                     FileEntry* entry) {
    return queueRecord(control, jobs, [&] { return push(jobs, name, size, entry); });
}

bool holdAnotherSource(PipelineControl& control) {
    for (;;) {
        const uint32_t ticket = takeTicket(control.mainWake);
        if (control.sourcesHeld.load(std::memory_order_acquire) < kMaxHeldSources) {
            control.sourcesHeld.fetch_add(1, std::memory_order_acq_rel);
            return true;
        }
        if (pipelineStopped(control)) return false;
        sleepPast(control.mainWake, ticket);
    }
}

void takeHeldSource(PipelineControl& control) {
    // Main, if it waits, goes on once half the bound is free: it then
    // queues a batch of files instead of one per wake-up.
    if (control.sourcesHeld.fetch_sub(1, std::memory_order_acq_rel) == kMaxHeldSources / 2 + 1)
        wake(control.mainWake);
}

void popJob(PipelineControl& control, RecordRing& jobs) {
    pop(jobs);
    // A record takes at most half the ring; a longer one that still does not
    // fit is tried again at the next pop, until the ring is empty.
    if (bytesHeld(jobs) <= kRecordRingBytes / 2) wake(control.mainWake);
}

QueueResult queueEndOfJobs(PipelineControl& control, RecordRing& jobs) {
    return queueRecord(control, jobs, [&] { return pushEndOfJobs(jobs); });
}

void recordFinishedFile(PipelineControl& control, RecordRing& ring, std::u16string_view name, uint64_t size,
                        FileEntry* entry) {
    const FinishedFileSink* sink = control.finishedFileSink.load(std::memory_order_acquire);
    if (sink != nullptr) {
        sink->take(sink->owner, name, size, entry);
        return;
    }
    pushDiscardingOldest(ring, name, size, entry);
}

void wakeAll(PipelineControl& control) {
    wake(control.readerWake);
    wake(control.coderWake);
    wake(control.writerWake);
    wake(control.mainWake);
}

void raiseFlag(PipelineControl& control, std::atomic<uint32_t>& flag) {
    flag.store(1, std::memory_order_release);
    wakeAll(control);
}

void abortPipeline(PipelineControl& control) { raiseFlag(control, control.abortRun); }

}  // namespace qex
