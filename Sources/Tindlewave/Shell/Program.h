#pragma once

namespace tindlewave {

// The program on screen: makes the application, the main executor and the quit path, runs the
// event loop and returns the process's exit status.
int runProgram(int argc, char** argv);

}  // namespace tindlewave
