// The main() of every test program that runs under the device emulation (see
// tw_add_umockdev_tests): the program runs itself again under the preload library, takes a short
// private temporary folder, then runs its tests. Under the thread sanitizer the preload also brings
// the suppressions of tsan-under-umockdev.supp, for this program and every program its tests start.

#include <gtest/gtest.h>

#include "TestKit/Umockdev/Preload.h"

int main(int argc, char** argv) {
    tindlewave::testkit::umockdev::ensurePreloaded(argc, argv);
    tindlewave::testkit::umockdev::usePrivateTemporaryFolder();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
