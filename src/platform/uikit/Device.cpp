#include "platform/uikit/Device.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"

#include <QtGlobal>

namespace platform::uikit {

namespace {
constexpr int kFirstOrientation = 0;
constexpr int kLastOrientation = 6;
} // namespace

Device& Device::current()
{
    static Device device;
    return device;
}

void Device::beginGeneratingDeviceOrientationNotifications() { ++m_generating; }

void Device::endGeneratingDeviceOrientationNotifications()
{
    if (m_generating > 0)
        --m_generating;
}

void Device::setOrientation(int orientation)
{
    if (orientation < kFirstOrientation || orientation > kLastOrientation) {
        qWarning("Device::setOrientation: %d is not a device orientation (0 to 6); ignored", orientation);
        return;
    }
    if (orientation == m_orientation)
        return;
    m_orientation = orientation;
    // Listeners hear of the turn before the interface starts following it, as on the device,
    // so a screen can prepare for the rotation its own answer to the masks will allow.
    if (m_generating > 0)
        NotificationCenter::defaultCenter().post(DeviceOrientationDidChangeNotification, this);
    ViewController::attemptRotationToDeviceOrientation();
}

void Device::resetForTesting()
{
    m_orientation = 1;
    m_generating = 0;
}

} // namespace platform::uikit
