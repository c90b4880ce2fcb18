#include <csignal>

#include "Platform/Linux/Input/TerminalStop.h"
#include "Platform/Linux/System/Files.h"
#include "Shell/Program.h"

#if defined(__SANITIZE_ADDRESS__)
// libdbus keeps the buffers of the toolkit's session-bus connection until dbus_shutdown(), which
// the toolkit never calls: a leak checker of a sanitizer build is told so.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
#endif

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
