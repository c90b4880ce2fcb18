#pragma once

#include <string>

namespace tindlewave {

// Whether udev has announced the event node of the input device `inputSysname` ("input42"): the
// node is in udev's database, so a desktop following udev has been told of it (and opens it).
bool isEventNodeAnnounced(const std::string& inputSysname);

}  // namespace tindlewave
