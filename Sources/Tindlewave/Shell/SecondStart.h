#pragma once

#include <sys/types.h>

#include <QObject>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Platform/Linux/System/UniqueFd.h"

class QLocalServer;
class QLocalSocket;

namespace tindlewave {

// A second start of the window program over this computer's devices, while one runs, brings that
// one's settings window to the front and ends, as a single-instance desktop application does. The
// window program that holds the devices lock listens on a socket beside it ("window.socket" in the
// state folder), made right after it took the lock and before its toolkit starts, so a second
// start never finds it not listening yet; a second start refused the lock asks there. Only this
// user reaches it: the socket is made 0600, and a caller of another user is dropped, as is an
// answer from another user's. One fixed request is understood and one fixed answer given; nothing
// else is read from either side. Only the lock's holder listens there, so a socket a crashed
// program left is removed by the next one that takes the lock. The headless program does not
// listen: a start beside it is refused.
namespace secondStart {

inline constexpr std::string_view request = "tindlewave: show the settings window\n";
inline constexpr std::string_view answer = "shown\n";

// Beside the devices lock.
std::string socketFile();
// The listening socket at `file`, for the holder of the devices lock; or why there is none (a path
// too long for a socket, something other than a socket at it, an error of the system's).
std::variant<UniqueFd, std::string> listen(const std::string& file);
// Asks the program listening at `file` to show its settings window; its process id once it said
// it did, none when nothing of this user listens there or no answer came within `wait`.
std::optional<pid_t> askToShow(const std::string& file, std::chrono::milliseconds wait);

}  // namespace secondStart

// Answers a second start's requests on the listening socket, on the main thread: `show` runs for
// each. A caller that has not made its request within `patience` is dropped. The socket file is
// removed when it goes (the toolkit's server removes the file it listens at).
class SecondStartServer final : public QObject {
  public:
    SecondStartServer(UniqueFd listening, std::function<void()> show,
                      std::chrono::milliseconds patience = std::chrono::seconds(5), QObject* parent = nullptr);
    ~SecondStartServer() override;

  private:
    void serve(QLocalSocket* caller);

    QLocalServer* server_;
    std::function<void()> show_;
    std::chrono::milliseconds patience_;
};

}  // namespace tindlewave
