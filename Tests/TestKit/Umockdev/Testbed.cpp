#include "TestKit/Umockdev/Testbed.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <umockdev.h>
#include <unistd.h>

namespace tindlewave::testkit::umockdev {

std::string sysPath(const std::string& devicePath) {
    if (devicePath.rfind("/sys/", 0) == 0) return devicePath;
    return "/sys" + devicePath;
}

Testbed::Testbed() : testbed_(umockdev_testbed_new()) {
    EXPECT_TRUE(testbed_ != nullptr) << "cannot make the emulated device tree";
    EXPECT_TRUE(umockdev_in_mock_environment())
        << "not running under the emulation's preload library";
}

Testbed::~Testbed() {
    if (testbed_) g_object_unref(testbed_);
}

bool Testbed::add(const std::string& text) {
    GError* error = nullptr;
    bool added = umockdev_testbed_add_from_string(testbed_, text.c_str(), &error);
    if (!added) {
        ADD_FAILURE() << "the emulated device tree refuses a fixture: "
                      << (error ? error->message : "no reason given") << "\n" << text;
        if (error) g_error_free(error);
    }
    return added;
}

void Testbed::uevent(const std::string& syspath, const char* action) {
    umockdev_testbed_uevent(testbed_, sysPath(syspath).c_str(), action);
}

void Testbed::unplug(const std::string& syspath) {
    umockdev_testbed_uevent(testbed_, sysPath(syspath).c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, sysPath(syspath).c_str());
}

void Testbed::setAttribute(const std::string& syspath, const std::string& name,
                           const std::string& value) {
    umockdev_testbed_set_attribute(testbed_, sysPath(syspath).c_str(), name.c_str(),
                                   value.c_str());
}

void Testbed::setProperty(const std::string& syspath, const std::string& name,
                          const std::string& value) {
    umockdev_testbed_set_property(testbed_, sysPath(syspath).c_str(), name.c_str(),
                                  value.c_str());
}

int Testbed::deviceSideFd(const std::string& devnode) const {
    return umockdev_testbed_get_dev_fd(testbed_, devnode.c_str());
}

void Testbed::hangUp(const std::string& devnode) {
    int fd = deviceSideFd(devnode);
    ASSERT_GE(fd, 0) << devnode << " is not an emulated node";
    int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_GE(null, 0);
    // The last reference to the pseudo-terminal's master goes; its number stays valid.
    ASSERT_GE(::dup3(null, fd, O_CLOEXEC), 0);
    ::close(null);
}

std::string Testbed::rootDir() const {
    gchar* dir = umockdev_testbed_get_root_dir(testbed_);
    std::string text = dir ? dir : "";
    g_free(dir);
    return text;
}

}  // namespace tindlewave::testkit::umockdev
