target_sources(corvane_db PRIVATE
  db/FailureCodes.cpp
  db/ConnectionString.h db/ConnectionString.cpp
  db/Connection.h db/Connection.cpp
  db/ServerList.h db/ServerList.cpp db/ConnectionRace.cpp
  db/TlsOptions.h db/TlsOptions.cpp
  db/ImportTarget.h db/ImportTarget.cpp
  db/ImportWriter.h db/ImportWriter.cpp
  db/LocalInfile.h db/LocalInfile.cpp
  db/GreetingGuard.h db/GreetingGuard.cpp
  db/SshTunnel.h db/SshTunnel.cpp
  db/SshFailure.h db/SshFailure.cpp
  db/RowIndex.h db/RowIndex.cpp
  db/RowStore.h db/RowStore.cpp
  db/RowSet.h db/RowSet.cpp
  db/TableLoader.h db/TableLoader.cpp
  db/ResultRows.h db/ResultRows.cpp
  db/RowStatements.h db/RowStatements.cpp
  db/RowWriter.h db/RowWriter.cpp db/RowWriterBatch.cpp db/RowWriterInsert.cpp
  db/StoredForm.h db/StoredForm.cpp
  db/MySQL.h db/MySQL.cpp
  db/Identifier.h db/Identifier.cpp
  db/Workers.h db/Workers.cpp
  db/ColumnNames.h db/ColumnNames.cpp
  db/ColumnKind.h db/ColumnKind.cpp
  db/ForeignKeys.h db/ForeignKeys.cpp
  db/ForeignLabels.h db/ForeignLabels.cpp
  db/ForeignSearch.h db/ForeignSearch.cpp
)
