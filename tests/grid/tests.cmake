corvane_test(tst_clipboardtext grid/tst_clipboardtext.cpp TIMEOUT 60 LINK corvane_grid)
