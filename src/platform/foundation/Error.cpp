#include "platform/foundation/Error.h"

namespace platform {

QString Error::description() const
{
    return QStringLiteral("%1(%2): %3").arg(m_domain).arg(m_code).arg(m_message);
}

QString Error::localizedDescription() const
{
    return m_message.isEmpty() ? QStringLiteral("操作无法完成") : m_message;
}

} // namespace platform
