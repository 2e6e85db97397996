// qex: entry point. The standard streams are made safe first
// (standard_streams.h); start-up fills in the build stamp (from the
// SOURCE_DATE_EPOCH the build was configured with, else the compiler's date
// and time); main takes the process's arguments in UTF-16, then the command
// line picks and runs one command.
#include <cstdio>

#include "frontend/banner.h"
#include "frontend/command_line.h"
#include "frontend/commands.h"
#include "frontend/console_output.h"
#include "platform/process_arguments.h"
#include "platform/standard_streams.h"

namespace {

#ifdef QEX_SOURCE_DATE_EPOCH
const qex::BuildStamp kBuildStamp = qex::makeBuildStampFromEpoch(QEX_SOURCE_DATE_EPOCH);
#else
const qex::BuildStamp kBuildStamp = qex::makeBuildStamp(__DATE__, __TIME__);
#endif

}  // namespace

int main(int argc, char** argv) {
    qex::makeStandardStreamsSafe();
    std::vector<std::u16string> arguments = qex::processArguments(argc, argv);
    qex::FrontEnd frontEnd;
    frontEnd.buildStamp = kBuildStamp.data();
    frontEnd.version = QEX_VERSION;
    frontEnd.add = qex::runAdd;
    frontEnd.extract = qex::runExtract;
    frontEnd.test = qex::runTest;
    frontEnd.list = qex::runList;
    frontEnd.out = stdout;
    qex::ConsoleOutput console;
    frontEnd.console = &console;
    const int exitCode = qex::finishConsole(console, stderr, qex::runCommandLine(arguments, frontEnd));
    std::fflush(stdout);
    return exitCode;
}
