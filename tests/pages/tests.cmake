
corvane_test(tst_grid pages/tst_grid.cpp DB TIMEOUT 300)
