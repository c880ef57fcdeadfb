corvane_test(tst_textexport export/tst_textexport.cpp export/MemoryGrid.h THREADS LINK corvane_export)
corvane_test(tst_xlsxexport export/tst_xlsxexport.cpp export/MemoryGrid.h export/FakeSpreadsheet.h TIMEOUT 300 LINK corvane_export)
corvane_test(tst_exportgrid export/tst_exportgrid.cpp export/FakeSpreadsheet.h DB THREADS TIMEOUT 120)
