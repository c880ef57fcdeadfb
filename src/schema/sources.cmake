target_sources(corvane PRIVATE
  schema/ColumnDefinition.h schema/ColumnDefinition.cpp
  schema/SchemaStatements.h schema/SchemaStatements.cpp
  schema/ColumnNames.h schema/ColumnNames.cpp
  schema/frmNewColumn.h schema/frmNewColumn.cpp
  schema/frmNewTable.h schema/frmNewTable.cpp
)
