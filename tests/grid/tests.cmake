corvane_test(tst_clipboardtext grid/tst_clipboardtext.cpp TIMEOUT 60 LINK corvane_grid)
corvane_test(tst_roundtrips grid/tst_roundtrips.cpp DB TIMEOUT 120 LINK corvane_grid)
