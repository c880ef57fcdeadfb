corvane_test(tst_schema_texts schema/tst_schema_texts.cpp)
corvane_test(tst_add_column schema/tst_add_column.cpp schema/SchemaSession.h DB TIMEOUT 180)
corvane_test(tst_new_table schema/tst_new_table.cpp schema/SchemaSession.h DB TIMEOUT 180)

# Screenshots of the two schema dialogs in a filled state (not a test).
add_executable(schema-shots schema/schema_shots_main.cpp schema/SchemaShots.h schema/SchemaShots.cpp)
target_link_libraries(schema-shots PRIVATE corvane_testsupport)
