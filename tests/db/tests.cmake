corvane_test(tst_connection db/tst_connection.cpp DB TIMEOUT 120)
corvane_test(tst_rowstore db/tst_rowstore.cpp)
corvane_test(tst_rowwriter db/tst_rowwriter.cpp)
corvane_test(tst_tableloader db/tst_tableloader.cpp DB TIMEOUT 120)
