corvane_test(tst_textexport export/tst_textexport.cpp export/MemoryGrid.h)
