#pragma once

#include <QString>

// The captcha verifier's own small log: the stages of the current verification run, kept
// as one pretty-printed JSON object ("format_version", "started_at", "events") in
// "KorvaneGaiaVerifierDiagnostic.json" beside the runtime log, so that a failed verification
// can be read back from the diagnostics export. At most 40 events, oldest dropped first;
// stages are reduced to a safe alphabet and details have credential-like runs redacted.
// Main thread only.
struct KRGaiaDiagnostics {
    KRGaiaDiagnostics() = delete;

    // Starts a fresh file for a new run (no events yet).
    static void beginVerifierRun();
    static void recordVerifierStage(const QString& stage, const QString& detail);

    // Where the file lives.
    static QString filePath();
    // The stored forms of a stage and a detail.
    static QString sanitizedStage(const QString& stage);
    static QString sanitizedDetail(const QString& detail);
};
