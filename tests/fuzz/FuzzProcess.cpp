// What every fuzz target's process needs before its first input: the harness keeps its own
// fatal-signal handlers (libFuzzer writes the failing input from them; the app's would end the
// process first), and the sandbox is a temporary folder of the run, never the user's home.
#include "platform/foundation/CrashCapture.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

// The stores write their files atomically and sync them to the disk; on a disk those syncs
// cost every input far more than the code under test. In memory they cost next to nothing,
// so the home lives there where the system offers a memory file system.
QString homeTemplate()
{
    const QFileInfo memory(QStringLiteral("/dev/shm"));
    const QString folder = memory.isDir() && memory.isWritable() ? memory.filePath() : QDir::tempPath();
    return folder + QStringLiteral("/korvane-fuzz-XXXXXX");
}

struct FuzzProcess {
    FuzzProcess()
    {
        platform::CrashCapture::leaveProcessHandlers();
        if (home.isValid())
            qputenv("KORVANE_HOME", home.path().toUtf8());
    }
    QTemporaryDir home{homeTemplate()};
};

const FuzzProcess process;

} // namespace
