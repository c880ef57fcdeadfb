target_sources(corvane_schema PRIVATE
  schema/ColumnDefinition.h schema/ColumnDefinition.cpp
  schema/SchemaStatements.h schema/SchemaStatements.cpp
  schema/SchemaOpener.h schema/SchemaOpener.cpp
  schema/frmNewColumn.h schema/frmNewColumn.cpp
  schema/frmNewTable.h schema/frmNewTable.cpp
)
