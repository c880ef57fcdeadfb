corvane_test(tst_frame frame/tst_frame.cpp LINK corvane_frame)
