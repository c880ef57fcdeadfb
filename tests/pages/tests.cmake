corvane_test(tst_signin pages/tst_signin.cpp DB TIMEOUT 180)
corvane_test(tst_grid pages/tst_grid.cpp DB TIMEOUT 300)
corvane_test(tst_writesafety pages/tst_writesafety.cpp DB TIMEOUT 300)
corvane_test(tst_gridscale pages/tst_gridscale.cpp DB TIMEOUT 240)
