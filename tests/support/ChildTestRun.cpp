#include "support/ChildTestRun.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

namespace testsupport {

ChildTestResult runChildTest(const QString& test, const QString& home, const QString& mode)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KR_CHILD_HOME"), home);
    env.insert(QStringLiteral("KR_CHILD_MODE"), mode);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=") + test, QStringLiteral("--gtest_also_run_disabled_tests")});
    ChildTestResult result;
    result.finished = child.waitForFinished(60000);
    result.exitCode = child.exitCode();
    result.standardError = QString::fromLocal8Bit(child.readAllStandardError());
    return result;
}

} // namespace testsupport
