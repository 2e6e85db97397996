// The test command: decodes the whole stream as extraction does and checks
// every file's two check values and that the stream ends exactly where the
// files' sizes say and no byte before the directory, writing nothing
// (`runTest` in commands.h).
//
// Every file is queued to the writer as a pass-through job: its bytes are
// taken from the decoded stream and only their check values computed. The
// first file that fails is named (with a count of the others); a stream
// that ends inside a file or runs on after the last one is damage. Exit 0
// only when everything matches.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/archived_paths.h"
#include "frontend/archive_file.h"
#include "frontend/command_outcome.h"
#include "frontend/commands.h"
#include "frontend/failure_messages.h"
#include "frontend/progress_display.h"
#include "pipeline/pipeline_run.h"
#include "platform/text_conversion.h"

namespace qex {
namespace {

void reportRunFailures(CommandOutcome& outcome, const std::vector<PipelineFailure>& failures) {
    for (const PipelineFailure& failure : failures) reportRunFailure(outcome, failure);
}

// What is wrong with a file after the run; empty when it matches.
std::string fileProblem(const FileEntry& file) {
    if (!file.received) return "the stream ended before the file's end";
    if (file.writtenCrc == file.crc && file.writtenCrcPlusOne == file.crcPlusOne) return {};
    char values[96];
    std::snprintf(values, sizeof values, "check value mismatch: stored %08X %08X, computed %08X %08X", file.crc,
                  file.crcPlusOne, file.writtenCrc, file.writtenCrcPlusOne);
    return values;
}

// Names the first file that fails and counts the others.
void reportFailingFiles(CommandOutcome& outcome, const Directory& directory, const std::vector<FileEntry>& files) {
    ArchivedPathWalker walker;
    size_t file = 0, failing = 0;
    for (size_t k = 0; k < directory.entries.size() && file < files.size(); ++k) {
        const std::u16string& path = nextArchivedPath(walker, directory.entries[k], directory.names[k]);
        if (isFolder(directory.entries[k])) continue;
        const std::string problem = fileProblem(files[file++]);
        if (problem.empty()) continue;
        if (failing++ == 0) reportFatal(outcome, "damaged archive: the file", utf16ToNative(path), problem);
    }
    if (failing > 1)
        reportFatal(outcome, "damaged archive: " + std::to_string(failing - 1) + " more files fail too", {});
}

// The stream must end exactly where the directory begins. The decoder reads
// exactly the bytes the encoder wrote: five to prime its code (the first
// always 0x00) and one per normalising shift, as the encoder shifts one out
// per byte; the encoder's final five shifts put out its withheld byte, the
// 0xFF bytes waiting for a carry and the four bytes of its low end, and the
// decoder has read all of them once it decodes the end symbol. So the
// tolerance is zero: any byte between the coded end and the directory was
// put there by something else, and a coded end inside the directory means
// the stream took bytes that are not its own.
void checkStreamEnd(CommandOutcome& outcome, const std::string& path, const Directory& directory,
                    uint64_t decoded) {
    if (decoded == directory.streamBytes) return;
    if (decoded == kUnknownBytes) {
        reportFatal(outcome, "damaged archive", path, "the stream does not end before the directory");
    } else if (decoded < directory.streamBytes) {
        const uint64_t extra = directory.streamBytes - decoded;
        reportFatal(outcome, "damaged archive", path,
                    std::to_string(extra) + (extra == 1 ? " byte lies" : " bytes lie") +
                        " between the stream's end and the directory");
    } else {
        const uint64_t inside = decoded - directory.streamBytes;
        reportFatal(outcome, "damaged archive", path,
                    "the stream ends " + std::to_string(inside) + (inside == 1 ? " byte" : " bytes") +
                        " inside the directory");
    }
}

}  // namespace

int runTest(const std::u16string& archivePath16, const std::vector<std::u16string>& /*paths*/,
           const CommandOptions& /*options*/, ConsoleOutput& console) {
    CommandOutcome outcome;
    OpenedArchive archive;
    if (!openArchive(outcome, utf16ToNative(archivePath16), archive)) return outcome.exitCode;
    const Directory& directory = archive.directory;
    const FileHandle stream = takeArchiveStream(outcome, archive);
    if (stream == kNoFile) return outcome.exitCode;

    std::unique_ptr<Pipeline> pipeline = createPipeline();
    PipelineRun run;
    if (!startExtractRun(run, *pipeline, stream, archive.path, kNoFile)) {
        reportRunFailures(outcome, finishRun(run));
        return outcome.exitCode;
    }
    ProgressCounters counters;
    ProgressPrinter printer;
    startRunProgress(printer, console, ProgressKind::test, run, counters);

    // One per file entry, reserved once: the writer fills them by address.
    std::vector<FileEntry> files;
    files.reserve(directory.entries.size());
    ArchivedPathWalker walker;
    for (size_t k = 0; k < directory.entries.size(); ++k) {
        const ArchiveEntry& entry = directory.entries[k];
        const std::u16string& path = nextArchivedPath(walker, entry, directory.names[k]);
        if (isFolder(entry)) {
            counters.folders.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        counters.files.fetch_add(1, std::memory_order_relaxed);
        FileEntry& file = files.emplace_back();
        file.size = entrySize(entry);
        file.crc = entry.crc;
        file.crcPlusOne = entry.crcPlusOne;
        if (queuePassThrough(run, path, file.size, file) == QueueResult::runStopped) break;
    }
    const std::vector<PipelineFailure> failures = finishRun(run);
    finishProgressPrinter(printer);

    reportFailingFiles(outcome, directory, files);
    reportRunFailures(outcome, failures);
    if (outcome.exitCode == kExitSuccess) checkStreamEnd(outcome, archive.path, directory, streamBytesDecoded(run));
    if (outcome.exitCode == kExitSuccess && !console.quiet)
        writeConsole(console, "all " + std::to_string(files.size()) + " files match their check values\n");
    return outcome.exitCode;
}

}  // namespace qex
