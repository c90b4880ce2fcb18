#pragma once

#include <string>

struct _UMockdevTestbed;

namespace tindlewave::testkit::umockdev {

// One emulated device tree (sysfs, /dev nodes, uevents) for the life of a test. Everything that
// opened an emulated node (backends, hubs, sessions) must be destroyed before the testbed: a node
// used after it is gone hangs the process. Failures are reported as test failures.
class Testbed {
  public:
    Testbed();
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    // Adds devices described in the emulation's text form (see FixtureText.h); a program that
    // watches uevents sees an "add" for each. False (and a test failure) when the text is refused.
    bool add(const std::string& text);
    // Sends a uevent ("add", "change", "remove") for a device by its sysfs path
    // ("/sys/devices/…" or "/devices/…").
    void uevent(const std::string& syspath, const char* action);
    // Unplugs a device: its "remove" uevent, then its removal from the tree. Remove children
    // before their parent. A node name once removed cannot be added again in this testbed: a
    // replug uses a new one.
    void unplug(const std::string& syspath);
    // Changes a sysfs attribute or a udev property of a device.
    void setAttribute(const std::string& syspath, const std::string& name,
                      const std::string& value);
    void setProperty(const std::string& syspath, const std::string& name,
                     const std::string& value);

    // The test's end of an emulated character node ("/dev/hidraw0"): what is written there the
    // program reads from the node. Owned by the testbed; -1 when the node is unknown.
    int deviceSideFd(const std::string& devnode) const;
    // Hangs an emulated character node up, as a device that vanished under an open node: the
    // program's reads fail from then on (the test's end is replaced by /dev/null, which the
    // testbed closes in its place).
    void hangUp(const std::string& devnode);
    // The folder the emulated tree lives in ($UMOCKDEV_DIR).
    std::string rootDir() const;

    _UMockdevTestbed* raw() const { return testbed_; }

  private:
    _UMockdevTestbed* testbed_ = nullptr;
};

// The path of a device as the testbed wants it ("/sys/devices/…").
std::string sysPath(const std::string& devicePath);

}  // namespace tindlewave::testkit::umockdev
