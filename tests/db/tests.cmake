corvane_test(tst_connection db/tst_connection.cpp DB THREADS TIMEOUT 120 LINK corvane_db)
corvane_test(tst_rowstore db/tst_rowstore.cpp LINK corvane_db)
corvane_test(tst_rowwriter db/tst_rowwriter.cpp LINK corvane_db)
corvane_test(tst_tableloader db/tst_tableloader.cpp DB THREADS TIMEOUT 120 LINK corvane_db)
corvane_test(tst_slowload db/tst_slowload.cpp DB THREADS TIMEOUT 180 LINK corvane_db)
# Talks to the server below the db layer, to set up what the layer must survive.
target_link_libraries(tst_rowwriter PRIVATE PkgConfig::MARIADB)
