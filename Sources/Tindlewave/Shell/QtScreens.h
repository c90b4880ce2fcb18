#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

#include "Platform/EventSystem.h"

class QScreen;

namespace tindlewave {

// The desktop's screens as the toolkit knows them, for an event system that runs on another
// thread: kept as a copy that follows the toolkit's screens as they come, go and change (on the
// GUI thread), and read from any thread through source(). The source holds the copy, so it may
// outlive this object (it then keeps the last screens seen).
class QtScreens final : public QObject {
  public:
    explicit QtScreens(QObject* parent = nullptr);

    std::function<std::vector<Screen>()> source() const;
    // The screens as seen now; GUI thread.
    static std::vector<Screen> current();

  private:
    struct Copy;

    void follow(QScreen* screen);
    void refresh();

    std::shared_ptr<Copy> copy_;
};

}  // namespace tindlewave
