#include "core/Failure.h"

bool Failure::isConnectionLost() const
{
    return m_number == ServerGoneAway || m_number == ServerLost || m_number == ServerLostExtended;
}

bool Failure::isTlsFailure() const
{
    return m_number == TlsConnectionError;
}

void Failure::throwNotOpen()
{
    throw Failure(QStringLiteral("Operation is not allowed when the object is closed."), ObjectClosed);
}
