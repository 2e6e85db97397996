// Starting, feeding and finishing a run (see pipeline_run.h).
#include "pipeline/pipeline_run.h"

#include <utility>

#include "platform/file_identity.h"

namespace qex {

namespace {

// Add: the opened sources of jobs the reader never took (the run stopped
// early) are closed here, once every thread has ended.
void closeUntakenSources(RecordRing& jobs) {
    RingRecord job;
    while (peek(jobs, job)) {
        if (job.entry != nullptr && job.entry->source != kNoFile) {
            ignoreFailure(closeFile(job.entry->source));  // only read from
            job.entry->source = kNoFile;
        }
        pop(jobs);
    }
}

}  // namespace

bool startAddRun(PipelineRun& run, Pipeline& pipeline, FileHandle archive, std::string archivePath,
                 const CoderBody& body, size_t arenaBytes) {
    run.pipeline = &pipeline;
    run.extracting = false;
    prepareForAdd(pipeline, archive, std::move(archivePath));
    run.workerStarted = startCoderWorker(run.worker, pipeline.control, body, arenaBytes);
    return run.workerStarted;
}

namespace {

bool startExtracting(PipelineRun& run, Pipeline& pipeline, FileHandle archive, std::string archivePath,
                     FileHandle targetFolder, FileHandle contents, const CoderBody& body, size_t arenaBytes) {
    run.pipeline = &pipeline;
    run.extracting = true;
    prepareForExtract(pipeline, archive, std::move(archivePath));
    PipelineControl& control = pipeline.control;
    control.writerFolder = targetFolder;
    control.writerFile = contents;
    // An archived file of the same path as the archive must not cut it short.
    control.writerUntouchable = identityOfFile(archive);
    // The reader reads the archive and then meets this marker: it has no
    // other job on extraction. The ring is empty, so the push succeeds.
    queueEndOfJobs(control, pipeline.rings.readerJobs);
    run.workerStarted = startCoderWorker(run.worker, control, body, arenaBytes);
    if (!run.workerStarted && archive != kNoFile) {
        // No reader will ever own it; it was only read.
        ignoreFailure(closeFile(archive));
        control.readerFile = kNoFile;
    }
    if (!run.workerStarted && contents != kNoFile) {
        // Standard output's copy: nothing was written through it.
        ignoreFailure(closeFile(contents));
        control.writerFile = kNoFile;
    }
    return run.workerStarted;
}

}  // namespace

bool startExtractRun(PipelineRun& run, Pipeline& pipeline, FileHandle archive, std::string archivePath,
                     FileHandle targetFolder, const CoderBody& body, size_t arenaBytes) {
    return startExtracting(run, pipeline, archive, std::move(archivePath), targetFolder, kNoFile, body,
                           arenaBytes);
}

bool startContentsRun(PipelineRun& run, Pipeline& pipeline, FileHandle archive, std::string archivePath,
                      FileHandle contents, const CoderBody& body, size_t arenaBytes) {
    return startExtracting(run, pipeline, archive, std::move(archivePath), kNoFile, contents, body, arenaBytes);
}

QueueResult queueFile(PipelineRun& run, std::u16string_view name, uint64_t size, FileEntry* entry) {
    Pipeline& pipeline = *run.pipeline;
    if (!run.extracting && entry != nullptr && entry->source != kNoFile) {
        // An opened source: at most kMaxHeldSources wait at once. One the
        // ring does not take stays the caller's.
        if (!holdAnotherSource(pipeline.control)) return QueueResult::runStopped;
        const QueueResult result = queueJob(pipeline.control, pipeline.rings.readerJobs, name, size, entry);
        if (result != QueueResult::queued) pipeline.control.sourcesHeld.fetch_sub(1, std::memory_order_acq_rel);
        return result;
    }
    RecordRing& jobs = run.extracting ? pipeline.rings.writerJobs : pipeline.rings.readerJobs;
    const QueueResult result = queueJob(pipeline.control, jobs, name, size, entry);
    if (result != QueueResult::nameTooLong || !run.extracting) return result;
    if (size == 0 && entry == nullptr) return result;  // nothing to pass
    // The file's bytes are still in the stream: a job without a name lets
    // them pass unwritten, so the next file starts where it should.
    const QueueResult passed = queueJob(pipeline.control, jobs, std::u16string_view(), size, entry);
    return passed == QueueResult::queued ? QueueResult::nameTooLong : passed;
}

QueueResult queuePassThrough(PipelineRun& run, std::u16string_view name, uint64_t size, FileEntry& entry) {
    // A name the ring cannot carry is only for display.
    entry.passThrough = true;
    PipelineControl& control = run.pipeline->control;
    const QueueResult result = queueJob(control, run.pipeline->rings.writerJobs, name, size, &entry);
    if (result != QueueResult::nameTooLong) return result;
    return queueJob(control, run.pipeline->rings.writerJobs, std::u16string_view(), size, &entry);
}

void sendFinishedFilesTo(PipelineRun& run, const FinishedFileSink& sink) {
    run.pipeline->control.finishedFileSink.store(&sink, std::memory_order_release);
}

std::vector<PipelineFailure> finishRun(PipelineRun& run, RunEnd end) {
    PipelineControl& control = run.pipeline->control;
    // Raised before the end marker is pushed, so the writer that takes the
    // marker sees it.
    if (end == RunEnd::afterQueuedFiles && run.extracting)
        control.stopAfterLastJob.store(1, std::memory_order_release);
    if (run.workerStarted) {
        RecordRing& jobs = run.extracting ? run.pipeline->rings.writerJobs : run.pipeline->rings.readerJobs;
        queueEndOfJobs(control, jobs);
        waitForCoderWorker(run.worker);
        run.workerStarted = false;
    }
    if (!run.extracting) closeUntakenSources(run.pipeline->rings.readerJobs);
    return failuresOf(control.report);
}

uint64_t streamBytesDecoded(const PipelineRun& run) { return run.pipeline->control.coderInputUsed; }

std::vector<DeferredLink> takeDeferredLinks(PipelineRun& run) {
    return std::move(run.pipeline->control.deferredLinks);
}

RunProgress progressOf(PipelineRun& run) {
    Pipeline& pipeline = *run.pipeline;
    RunProgress progress;
    progress.finishedFiles = run.extracting ? &pipeline.rings.extractedFiles : &pipeline.rings.addedFiles;
    progress.coderIn = &pipeline.control.totalIn;
    progress.coderOut = &pipeline.control.totalOut;
    return progress;
}

}  // namespace qex
