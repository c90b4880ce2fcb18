#pragma once

#include <functional>

#include "Platform/Cancellable.h"

class QObject;

namespace tindlewave {

class SettingsModel;
enum class SettingsField;

// How a page follows the settings model: after any number of changes in one turn of the event
// loop (of the fields `wanted` lets through; every field without it), `refresh` runs once, in the
// next turn, on `owner`, which must own the returned subscription.
[[nodiscard]] Subscription refreshOncePerTurn(SettingsModel& model, QObject& owner,
                                              std::function<void()> refresh,
                                              std::function<bool(SettingsField)> wanted = {});

}  // namespace tindlewave
