corvane_test(tst_signin pages/tst_signin.cpp DB TIMEOUT 180)
corvane_test(tst_grid pages/tst_grid.cpp DB TIMEOUT 300)
corvane_test(tst_writesafety pages/tst_writesafety.cpp DB TIMEOUT 300)
set_tests_properties(tst_writesafety PROPERTIES FIXTURES_REQUIRED "db;dbsecond")
corvane_test(tst_gridscale pages/tst_gridscale.cpp DB THREADS TIMEOUT 240)
corvane_test(tst_sortfilter pages/tst_sortfilter.cpp DB THREADS TIMEOUT 300)
# Not in the ThreadSanitizer run: runHoldingInput gives its work to a pool
# thread through QThreadPool, whose hand-over (a futex in Qt) TSan cannot see,
# so every read of the work's inputs in the pool thread is reported.
corvane_test(tst_clipboard pages/tst_clipboard.cpp DB TIMEOUT 300)
corvane_test(tst_pageturns pages/tst_pageturns.cpp DB TIMEOUT 120)
