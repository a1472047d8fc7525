// What every fuzz target's process needs before its first input: the harness keeps its own
// fatal-signal handlers (libFuzzer writes the failing input from them; the app's would end the
// process first), and the sandbox is a temporary folder of the run, never the user's home.
#include "platform/foundation/CrashCapture.h"

#include <QTemporaryDir>

namespace {

struct FuzzProcess {
    FuzzProcess()
    {
        platform::CrashCapture::leaveProcessHandlers();
        if (home.isValid())
            qputenv("KORVANE_HOME", home.path().toUtf8());
    }
    QTemporaryDir home;
};

const FuzzProcess process;

} // namespace
