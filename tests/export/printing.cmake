# The PDF export and the print program. tst_pdf_cups runs against a private
# cupsd that its fixture starts (skipped when CUPS or cups-pdf is missing).
corvane_test(tst_pdf_flow export/tst_pdf_flow.cpp export/FakePrinters.h export/MemoryGrid.h)

corvane_test(tst_print export/tst_print.cpp export/MemoryGrid.h)
add_dependencies(tst_print corvane-print)
