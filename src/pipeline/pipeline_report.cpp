// The pipeline's failure list.
#include "pipeline/pipeline_report.h"

#include <utility>

namespace qex {

void reportFailure(PipelineReport& report, FailureKind kind, std::string path, std::string reason) {
    std::lock_guard<std::mutex> hold(report.lock);
    report.failures.push_back(PipelineFailure{kind, std::move(path), std::move(reason)});
}

std::vector<PipelineFailure> failuresOf(PipelineReport& report) {
    std::lock_guard<std::mutex> hold(report.lock);
    return report.failures;
}

}  // namespace qex
