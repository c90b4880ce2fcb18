#include "Platform/Linux/Input/UdevAnnouncement.h"

#include <libudev.h>

#include <cstring>

namespace tindlewave {

bool isEventNodeAnnounced(const std::string& inputSysname) {
    udev* context = udev_new();
    if (!context) return false;
    bool announced = false;
    if (udev_device* input = udev_device_new_from_subsystem_sysname(context, "input", inputSysname.c_str())) {
        if (udev_enumerate* children = udev_enumerate_new(context)) {
            udev_enumerate_add_match_parent(children, input);
            udev_enumerate_add_match_subsystem(children, "input");
            udev_enumerate_scan_devices(children);
            udev_list_entry* entry = nullptr;
            udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(children)) {
                udev_device* child = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
                if (!child) continue;
                const char* name = udev_device_get_sysname(child);
                if (name && std::strncmp(name, "event", 5) == 0 && udev_device_get_devnode(child) &&
                    udev_device_get_is_initialized(child) > 0)
                    announced = true;
                udev_device_unref(child);
            }
            udev_enumerate_unref(children);
        }
        udev_device_unref(input);
    }
    udev_unref(context);
    return announced;
}

}  // namespace tindlewave
