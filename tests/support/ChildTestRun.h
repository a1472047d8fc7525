#pragma once

#include <QString>

namespace testsupport {

// What a child run of this test program ended with.
struct ChildTestResult {
    bool finished = false;  // false: it did not end within a minute
    int exitCode = -1;
    QString standardError;
};

// Runs the disabled test `test` ("Suite.DISABLED_Name") of this program in a child process
// whose home for it is `home` (in KR_CHILD_HOME) and whose way of ending is `mode` (in
// KR_CHILD_MODE): for what must hold when a process ends.
ChildTestResult runChildTest(const QString& test, const QString& home, const QString& mode);

} // namespace testsupport
