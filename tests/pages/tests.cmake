corvane_test(tst_signin pages/tst_signin.cpp DB TIMEOUT 180)
