#pragma once

namespace tindlewave {

// A terminal's Ctrl-Z (SIGTSTP) stops the program only once every event system of the process
// has let go of the user's devices (`LinuxEventSystem::suspendAll`: every grab, and nothing held
// down on the program's devices): a stopped program that kept the keyboard grabbed would leave
// the user unable even to type `fg`. The process then stops as SIGTSTP's default action stops
// it, and once continued (SIGCONT) the event systems take the devices up again
// (`LinuxEventSystem::resumeAll`).
//
// Call once, before any other thread starts: SIGTSTP is blocked in the calling thread, and so in
// every thread started after it, and waited for by a thread of its own. Where SIGTSTP is ignored
// (started by a shell without job control) nothing changes. SIGSTOP, and a debugger's stop,
// cannot be caught: a program stopped that way keeps its grabs until it goes on.
void releaseInputOnTerminalStop();

}  // namespace tindlewave
