corvane_test(tst_connection db/tst_connection.cpp DB TIMEOUT 120)
