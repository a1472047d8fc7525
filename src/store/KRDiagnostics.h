#pragma once

#include <QString>

// The runtime log and crash capture. Every subsystem appends events (a kebab-case name and
// a detail of space-separated name=value pairs) to "KorvaneRuntime.log" under Caches, one
// "%.3f [%@] %@" line each, credentials redacted. The log is rotated once per launch when
// it has grown above 512 KiB. An uncaught exception and a fatal signal each leave a line
// before the process dies (platform::CrashCapture writes them into this log). Callable from
// any thread; never reports a failure.
class KRDiagnostics {
public:
    KRDiagnostics() = delete;

    // Once per process: rotation, the descriptor the crash handlers write to, the handlers,
    // then the "session-start" event with the device summary.
    static void startCapture();
    // Appends one line; starts capture first when nothing has yet.
    static void recordEvent(const QString& event, const QString& detail);
    // Writes the diagnostics export into tmp/ and returns its full path; a null string when
    // the file could not be written.
    static QString createExportFile();

    // Closes the log so the next event starts capture again under the current home (the
    // crash handlers stay installed). For tests.
    static void resetForTesting();
};

// Credential values replaced by "<redacted>"; presence flags (YES/NO) kept.
QString KRDiagnosticsSanitizedText(const QString& text);
// The multi-line device summary of "session-start" and the export.
QString KRDiagnosticsDeviceSummary();
// The last `byteCount` bytes of a file as text (partial characters at the cut dropped), a
// property list's description, "<binary or unreadable data>", or "" when missing or empty.
QString KRDiagnosticsTailOfFile(const QString& path, qint64 byteCount);
// Where the runtime log and the probe files live (Caches).
QString KRDiagnosticsCacheDirectory();
