#include "db/Failure.h"

#include <errmsg.h>

bool Failure::isConnectionLost() const
{
    return m_number == CR_SERVER_GONE_ERROR || m_number == CR_SERVER_LOST || m_number == CR_SERVER_LOST_EXTENDED;
}

bool Failure::isTlsFailure() const
{
    return m_number == CR_SSL_CONNECTION_ERROR;
}

void Failure::throwNotOpen()
{
    throw Failure(QStringLiteral("Operation is not allowed when the object is closed."), 3704);
}
