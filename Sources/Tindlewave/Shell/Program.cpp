#include "Shell/Program.h"

#include <QApplication>
#include <cstdio>

#include "Platform/Clock.h"
#include "Shell/QtMainExecutor.h"
#include "Shell/TerminationSignal.h"

namespace tindlewave {

int runProgram(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Tindlewave");
    QApplication::setQuitOnLastWindowClosed(false);
    QtMainExecutor main(SystemClock::shared());
    TerminationSignal termination([] { QCoreApplication::quit(); });
    std::fputs("Tindlewave: the menu and the settings window are not assembled yet.\n", stderr);
    return 0;
}

}  // namespace tindlewave
