#pragma once

#include <QObject>
#include <functional>
#include <vector>

#include "Platform/EventSystem.h"

class QScreen;

namespace tindlewave {

// The desktop's screens as the toolkit knows them, handed to `onChange` at construction and again
// each time a screen comes, goes or changes (on the GUI thread), for an event system that keeps
// them where its other threads read them without copying.
class QtScreens final : public QObject {
  public:
    using Sink = std::function<void(std::vector<Screen>)>;

    explicit QtScreens(Sink onChange, QObject* parent = nullptr);

    // The screens as seen now; GUI thread.
    static std::vector<Screen> current();

  private:
    void follow(QScreen* screen);
    void refresh();

    Sink onChange_;
};

}  // namespace tindlewave
