#pragma once

#include <QString>

#include <memory>

namespace testsupport {

// Collects what the process writes to standard error (the system's console lines) while it
// lives, for tests that check a console line was printed. Lines written by worker threads
// are caught as well.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // Everything written so far.
    QString text() const;
    bool contains(const QString& fragment) const { return text().contains(fragment); }

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace testsupport
