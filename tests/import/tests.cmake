corvane_test(tst_import import/tst_import.cpp DB THREADS TIMEOUT 300)
