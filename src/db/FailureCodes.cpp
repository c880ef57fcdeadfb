// Failure::Code names the server's and the client library's numbers for the
// layers that cannot see MariaDB's headers; here they are checked against
// them, so a wrong number is a build error.
#include "core/Failure.h"

#include <errmsg.h>
#include <mysqld_error.h>

static_assert(Failure::ParseError == ER_PARSE_ERROR);
static_assert(Failure::NoSuchThread == ER_NO_SUCH_THREAD);
static_assert(Failure::NoSuchTable == ER_NO_SUCH_TABLE);
static_assert(Failure::StatementTimeout == ER_STATEMENT_TIMEOUT);
static_assert(Failure::UnknownSystemVariable == ER_UNKNOWN_SYSTEM_VARIABLE);
static_assert(Failure::LockWaitTimeout == ER_LOCK_WAIT_TIMEOUT);
static_assert(Failure::Deadlock == ER_LOCK_DEADLOCK);
static_assert(Failure::RowIsReferenced == ER_ROW_IS_REFERENCED);
static_assert(Failure::NoReferencedRow == ER_NO_REFERENCED_ROW);
static_assert(Failure::RowIsReferenced2 == ER_ROW_IS_REFERENCED_2);
static_assert(Failure::NoReferencedRow2 == ER_NO_REFERENCED_ROW_2);

static_assert(Failure::FirstClientError == CR_MIN_ERROR);
static_assert(Failure::UnknownHost == CR_UNKNOWN_HOST);
static_assert(Failure::ServerGoneAway == CR_SERVER_GONE_ERROR);
static_assert(Failure::OutOfMemory == CR_OUT_OF_MEMORY);
static_assert(Failure::ServerLost == CR_SERVER_LOST);
static_assert(Failure::TlsConnectionError == CR_SSL_CONNECTION_ERROR);
static_assert(Failure::ServerLostExtended == CR_SERVER_LOST_EXTENDED);
