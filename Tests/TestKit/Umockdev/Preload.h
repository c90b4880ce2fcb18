#pragma once

// The process set-up every test program under the device emulation needs. Tests/TestKit/Umockdev
// gives such programs their main(), which calls these first.

namespace tindlewave::testkit::umockdev {

// Runs the program again under the emulation's preload library (the address sanitizer's runtime
// first in a sanitizer build, as it must come first) unless it already runs under it. Returns only
// when preloaded; a failed exec ends the program with a message.
void ensurePreloaded(int argc, char** argv);

// Gives this process a short private temporary folder (/tmp/twu-XXXXXX) as TMPDIR, removed when
// the process exits. The emulation keeps its sockets there, and a socket path must fit in 108
// bytes. A test program that a test starts (and may kill) uses its parent's folder instead, so
// nothing of it is left. Call before the first testbed is made.
void usePrivateTemporaryFolder();

// For tests about access rights, which mean nothing to root. As root, runs the current test again
// in a child process under an unprivileged user (nobody, no groups), checks that it ran and passed
// (a failure is reported here), and returns true: the caller returns at once. Otherwise returns
// false and the test goes on as it is. The child runs a copy of this program, with copies of the
// sanitizers' suppressions files, from a folder under /tmp: that user may not be able to enter
// the clone's folders.
bool rerunUnprivileged();

}  // namespace tindlewave::testkit::umockdev
