// The pipeline's failure list.
#include "pipeline/pipeline_report.h"

#include <utility>

namespace qex {

namespace {

bool isFileFailure(FailureKind kind) {
    return kind == FailureKind::fileNotCreated || kind == FailureKind::fileWriteFailed ||
           kind == FailureKind::fileNameTaken;
}

}  // namespace

void reportFailure(PipelineReport& report, FailureKind kind, std::string path, std::string reason,
                   const FileEntry* earlier) {
    std::lock_guard<std::mutex> hold(report.lock);
    if (isFileFailure(kind) && report.keptFileFailures++ >= kKeptFileFailures) {
        ++report.unlistedFileFailures;
        return;
    }
    report.failures.push_back(PipelineFailure{kind, std::move(path), std::move(reason), 1, earlier});
}

std::vector<PipelineFailure> failuresOf(PipelineReport& report) {
    std::lock_guard<std::mutex> hold(report.lock);
    std::vector<PipelineFailure> failures = report.failures;
    if (report.unlistedFileFailures != 0)
        failures.push_back(PipelineFailure{FailureKind::fileFailuresUnlisted, {}, {}, report.unlistedFileFailures});
    return failures;
}

}  // namespace qex
