#include "Settings/Model/General/BuildInfo.h"

// The build defines both for this file alone.
#ifndef TW_VERSION
#define TW_VERSION ""
#endif
#ifndef TW_UPDATE_FEED_URL
#define TW_UPDATE_FEED_URL ""
#endif

namespace tindlewave {

std::string_view buildVersion() {
    return TW_VERSION;
}

std::optional<std::string> updateFeedURL() {
    std::string_view feed = TW_UPDATE_FEED_URL;
    if (feed.empty()) return std::nullopt;
    return std::string(feed);
}

}  // namespace tindlewave
