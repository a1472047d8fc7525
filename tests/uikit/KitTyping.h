#pragma once

#include <QString>
#include <QTest>
#include <QWidget>
#include <QWindow>

// Keys typed at `window` as a keyboard types them: each goes to whatever has the window's focus.
inline void typeThroughWindow(QWidget* window, const QString& text)
{
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
}
