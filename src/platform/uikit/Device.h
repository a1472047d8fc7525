#pragma once

#include <QObject>
#include <QString>

namespace platform::uikit {

inline const QString DeviceOrientationDidChangeNotification = QStringLiteral("UIDeviceOrientationDidChangeNotification");

// The device's physical orientation, with the platform's values: 0 unknown, 1 portrait,
// 2 upside down, 3 landscape left, 4 landscape right, 5 face up, 6 face down. Turning it
// posts the change on the default notification centre (object: this device) while anyone
// has begun generating those notifications, and the interface then follows through the key
// window's rotation when the masks allow (device 1 to 4 give the interface orientation of
// the same number; the rest leave the interface alone).
class Device : public QObject {
    Q_OBJECT
public:
    static Device& current();

    int orientation() const { return m_orientation; }
    // Nested, as the platform counts them; an unmatched end is ignored.
    void beginGeneratingDeviceOrientationNotifications();
    void endGeneratingDeviceOrientationNotifications();
    bool isGeneratingDeviceOrientationNotifications() const { return m_generating > 0; }
    // Values outside 0 to 6 are refused with a warning and change nothing; the same value
    // again changes nothing either.
    Q_INVOKABLE void setOrientation(int orientation);

    // Held portrait, nobody listening.
    void resetForTesting();

private:
    Device() = default;

    int m_orientation = 1;
    int m_generating = 0;
};

} // namespace platform::uikit
