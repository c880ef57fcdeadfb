corvane_test(tst_schema_texts schema/tst_schema_texts.cpp LINK corvane_schema)
corvane_test(tst_add_column schema/tst_add_column.cpp schema/SchemaSession.h DB TIMEOUT 180)
corvane_test(tst_new_table schema/tst_new_table.cpp schema/SchemaSession.h DB TIMEOUT 180)
