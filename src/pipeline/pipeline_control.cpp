// Setting up a run and main's side of the job rings.
#include "pipeline/pipeline_control.h"

#include <initializer_list>
#include <mutex>
#include <utility>

#include "platform/threads.h"

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
    control.maxFileBytes = kMaxFileBytes;
    control.writerFolder = kNoFile;
    control.writerUntouchable = FileIdentity{};
    control.readerStop.store(0);
    control.writerStop.store(0);
    control.keepEveryRecord.store(0);
    control.stopAfterLastJob.store(0);
    control.abortRun.store(0);
    control.outputEnded.store(0);
    control.writerDone.store(0);
    control.totalIn.store(0);
    control.totalOut.store(0);
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
}

}  // namespace

void prepareForAdd(Pipeline& pipeline, FileHandle archive, std::string archivePath) {
    resetRun(pipeline, std::move(archivePath));
    pipeline.control.readerFile = kNoFile;
    pipeline.control.writerFile = archive;
    pipeline.control.pipelineFlags = kKeepWriterFile;
}

void prepareForExtract(Pipeline& pipeline, FileHandle archive, std::string archivePath) {
    resetRun(pipeline, std::move(archivePath));
    pipeline.control.readerFile = archive;
    pipeline.control.writerFile = kNoFile;
    pipeline.control.pipelineFlags = kExtracting;
}

bool pipelineStopped(const PipelineControl& control) {
    return control.abortRun.load(std::memory_order_acquire) != 0 ||
           control.writerStop.load(std::memory_order_acquire) != 0;
}

QueueResult queueJob(PipelineControl& control, RecordRing& jobs, std::u16string_view name, uint64_t size,
                     FileEntry* entry) {
    for (;;) {
        const PushResult result = push(jobs, name, static_cast<uint32_t>(size),
                                       static_cast<uint32_t>(size >> 32), entry);
        if (result == PushResult::accepted) return QueueResult::queued;
        if (result == PushResult::tooLong) return QueueResult::nameTooLong;
        if (pipelineStopped(control)) return QueueResult::runStopped;
        sleepMilliseconds(kPollMilliseconds);
    }
}

QueueResult queueEndOfJobs(PipelineControl& control, RecordRing& jobs) {
    return queueJob(control, jobs, std::u16string_view(), 0, nullptr);
}

void recordFinishedFile(PipelineControl& control, RecordRing& ring, std::u16string_view name, uint32_t sizeLow,
                        uint32_t sizeHigh, FileEntry* entry) {
    while (control.keepEveryRecord.load(std::memory_order_relaxed) != 0 && !pipelineStopped(control)) {
        if (push(ring, name, sizeLow, sizeHigh, entry) != PushResult::full) return;
        sleepMilliseconds(kPollMilliseconds);
    }
    pushDiscardingOldest(ring, name, sizeLow, sizeHigh, entry);
}

void abortPipeline(PipelineControl& control) { control.abortRun.store(1, std::memory_order_release); }

}  // namespace qex
