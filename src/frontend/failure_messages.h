// How each kind of pipeline failure is told to the user: the words of its
// line on standard error and how much it weighs. One exhaustive mapping for
// every command, so a new kind of failure does not compile until it has its
// message.
#pragma once

#include <string_view>

#include "frontend/command_outcome.h"
#include "pipeline/pipeline_report.h"

namespace qex {

enum class FailureWeight {
    warning,  // the command goes on and ends with exit code 1
    item,     // extract: one item is not restored; a line while under the item-line limit, exit 1
    counted,  // extract: item failures the pipeline only counted
    fatal,    // the command fails: exit code 2
};

struct FailureMessage {
    FailureWeight weight;
    const char* what;
    // The failure's path is an item's, below the extraction target; otherwise
    // it is a full path (a source, the archive) or empty.
    bool namesItem;
};

FailureMessage failureMessage(FailureKind kind);

// The line of a warning or fatal failure, for the commands that have no
// item lines (add, test).
void reportRunFailure(CommandOutcome& outcome, const PipelineFailure& failure);

}  // namespace qex
