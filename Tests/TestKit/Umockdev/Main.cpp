// The main() of every test program that runs under the device emulation (see
// tw_add_umockdev_tests): the program runs itself again under the preload library, takes a short
// private temporary folder, then runs its tests.

#include <gtest/gtest.h>

#include "TestKit/Umockdev/Preload.h"

#if defined(__SANITIZE_THREAD__)
// The emulation hands data between its threads and ours over a socket, which the thread sanitizer
// cannot see; its own libraries' races are not ours to find (its preload library's table of
// emulated descriptors is read by our thread while its worker accepts a connection). libudev
// seeds the hash key of its tables once per process without a lock, so two udev contexts made on
// two threads (the test's emulation sending a uevent, a monitor reading it) race on it harmlessly.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libumockdev.so.0\n"
           "race:libumockdev-preload.so.0\n"
           "race:libglib-2.0.so.0\n"
           "race:libgio-2.0.so.0\n"
           "race:libudev.so.1\n";
}
#endif

int main(int argc, char** argv) {
    tindlewave::testkit::umockdev::ensurePreloaded(argc, argv);
    tindlewave::testkit::umockdev::usePrivateTemporaryFolder();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
