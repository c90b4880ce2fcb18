#include "Settings/Views/RefreshOncePerTurn.h"

#include <QTimer>

#include <memory>

#include "Settings/Model/SettingsModel.h"

namespace tindlewave {

Subscription refreshOncePerTurn(SettingsModel& model, QObject& owner, std::function<void()> refresh,
                                std::function<bool(SettingsField)> wanted) {
    auto pending = std::make_shared<bool>(false);
    return model.observe([&owner, pending, refresh = std::move(refresh),
                          wanted = std::move(wanted)](SettingsField field) {
        if (*pending || (wanted && !wanted(field))) return;
        *pending = true;
        QTimer::singleShot(0, &owner, [pending, refresh] {
            *pending = false;
            refresh();
        });
    });
}

}  // namespace tindlewave
