#include <csignal>

#include "Platform/Linux/Input/TerminalStop.h"
#include "Platform/Linux/System/Files.h"
#include "Shell/Program.h"

int main(int argc, char** argv) {
    // Before any thread starts or any file is written: a write past a file-size limit then fails
    // and is reported instead of ending the program.
    tindlewave::files::failWritesPastTheSizeLimit();
    // A standard error whose reader has gone (`| less` quit, `| head`) is an error to a write,
    // not an end of the program with its devices set up.
    ::signal(SIGPIPE, SIG_IGN);
    // Before any thread starts: Ctrl-Z in the terminal lets go of the devices before stopping.
    tindlewave::releaseInputOnTerminalStop();
    return tindlewave::runProgram(argc, argv);
}
