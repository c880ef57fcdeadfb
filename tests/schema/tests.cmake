corvane_test(tst_schema_texts schema/tst_schema_texts.cpp)
corvane_test(tst_add_column schema/tst_add_column.cpp schema/SchemaSession.h DB TIMEOUT 180)
