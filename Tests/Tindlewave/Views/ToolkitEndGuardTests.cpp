// The toolkit's own end of the program waits for the devices to be put back, from whichever
// threads it comes.

#include <gtest/gtest.h>

#include <QString>
#include <QtGlobal>
#include <future>
#include <thread>
#include <vector>

#include "Platform/Clock.h"
#include "Runtime/EngineAssembly.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Stores/LogStore.h"
#include "Runtime/Worlds/SimulatedWorld.h"
#include "Shell/ToolkitEndGuard.h"
#include "TestKit/TempFolder.h"
#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

using namespace std::chrono_literals;

// What the message handlers around the guard's see: the broken connection's messages that came to
// the guard, and whether the devices were put back when each went on past it (to the toolkit's
// exit).
struct Ends {
    testkit::Waiter waiter;
    bool putBack = false;
    int came = 0;
    std::vector<bool> wentOnPutBack;
    QtMessageHandler guard = nullptr;
};
Ends* ends = nullptr;

bool isBroken(const QString& text) { return text.startsWith(QLatin1String("The X11 connection broke")); }

// Installed over the guard's handler: the message comes to it.
void coming(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (isBroken(text)) ends->waiter.update([] { ++ends->came; });
    ends->guard(type, context, text);
}

// Installed under it: the message goes on.
void goingOn(QtMsgType, const QMessageLogContext&, const QString& text) {
    if (isBroken(text)) ends->waiter.update([] { ends->wentOnPutBack.push_back(ends->putBack); });
}

// Xlib calls the toolkit's I/O error handler on each connection's thread: the toolkit's own and
// the pointer's may both end the program at once. The one that comes second waits for the first
// one's put-back rather than letting the toolkit end the program in the middle of it.
TEST(ToolkitEndGuard, TwoThreadsEndingTheProgramAtOnceBothWaitForTheDevicesPutBack) {
    testkit::TempFolder folder;
    RunLoopExecutor main{"test.main"};
    LogStore log{folder.path() / "log", false, SystemClock::shared()};
    Defaults defaults{folder.path() / "defaults.json"};
    EngineAssembly assembly({
        .simulated = EngineAssembly::Options::Simulated{folder / "hidutil.json",
                                                        SimulatedWorld::hidutilBesideProgram().executable},
        .defaults = defaults,
        .log = log,
        .events = nullptr,
    });
    assembly.start(main);
    Ends seen;
    ends = &seen;
    const QtMessageHandler before = qInstallMessageHandler(goingOn);
    {
        ToolkitEndGuard guard(assembly, [&seen] { seen.waiter.update([&seen] { seen.putBack = true; }); });
        guard.toolkitReady();
        seen.guard = qInstallMessageHandler(coming);
        // The engine's executor is busy: the put-back waits behind what it does.
        std::promise<void> busy;
        assembly.hid().post([done = busy.get_future().share()] { done.wait(); });
        std::thread xcb([] { qWarning("The X11 connection broke (error 1). Did the X11 server die?"); });
        std::thread xlib([] { qWarning("The X11 connection broke: I/O error (code 1)"); });
        EXPECT_TRUE(seen.waiter.waitFor([&seen] { return seen.came == 2; }));
        // Neither goes on while the devices are put back (a fault shows at once).
        EXPECT_FALSE(seen.waiter.waitFor([&seen] { return !seen.wentOnPutBack.empty(); }, 1s));
        busy.set_value();
        xcb.join();
        xlib.join();
    }
    qInstallMessageHandler(before);
    ends = nullptr;
    EXPECT_EQ(seen.wentOnPutBack, (std::vector<bool>{true, true}));
    assembly.stop();
}

}  // namespace
}  // namespace tindlewave
