// The message and weight of each kind of pipeline failure (see
// failure_messages.h).
#include "frontend/failure_messages.h"

namespace qex {

FailureMessage failureMessage(FailureKind kind) {
    // No default: every kind is listed, so a new one is a compile error here.
    switch (kind) {
        case FailureKind::workerStartFailed:
            return {FailureWeight::fatal, "cannot start the coder", false};
        case FailureKind::sourceUnreadable:
            return {FailureWeight::warning, "cannot read", false};
        case FailureKind::sourceChanged:
            return {FailureWeight::warning, "file changed as it was read", false};
        case FailureKind::streamWriteFailed:
            return {FailureWeight::fatal, "cannot write archive", false};
        case FailureKind::archiveReadFailed:
            return {FailureWeight::fatal, "cannot read archive", false};
        case FailureKind::fileNotCreated:
            return {FailureWeight::item, "cannot create file", true};
        case FailureKind::fileNameTaken:
            return {FailureWeight::item, "cannot create file", true};
        case FailureKind::linkNotCreated:
            return {FailureWeight::item, "cannot create symbolic link", true};
        case FailureKind::hardLinkNotCreated:
            return {FailureWeight::item, "cannot create hard link", true};
        case FailureKind::fileWriteFailed:
            return {FailureWeight::item, "cannot write file", true};
        case FailureKind::ownerNotSet:
            return {FailureWeight::item, "cannot set the owner of", true};
        case FailureKind::fileIncomplete:
            return {FailureWeight::fatal, "incomplete file", true};
        case FailureKind::extraData:
            return {FailureWeight::fatal, "damaged archive", false};
        case FailureKind::fileFailuresUnlisted:
            return {FailureWeight::counted, "", false};
    }
    return {FailureWeight::fatal, "failed", false};  // not a FailureKind
}

void reportRunFailure(CommandOutcome& outcome, const PipelineFailure& failure) {
    const FailureMessage message = failureMessage(failure.kind);
    if (message.weight == FailureWeight::fatal)
        reportFatal(outcome, message.what, failure.path, failure.reason);
    else
        reportWarning(outcome, message.what, failure.path, failure.reason);
}

}  // namespace qex
