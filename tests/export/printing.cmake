# The PDF export and the print program. tst_pdf_cups runs against a private
# cupsd that its fixture starts (skipped when CUPS or cups-pdf is missing).
corvane_test(tst_pdf_flow export/tst_pdf_flow.cpp export/FakePrinters.h export/StringGrid.h)

corvane_test(tst_print export/tst_print.cpp export/StringGrid.h LINK corvane_export)
add_dependencies(tst_print corvane-print)

set(CORVANE_CUPS_ENV ${CMAKE_BINARY_DIR}/test-cups.env)
add_test(NAME cups_start COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/export/cups-fixture.sh start ${CORVANE_CUPS_ENV})
add_test(NAME cups_stop COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/export/cups-fixture.sh stop ${CORVANE_CUPS_ENV})
set_tests_properties(cups_start PROPERTIES FIXTURES_SETUP cups TIMEOUT 60)
set_tests_properties(cups_stop PROPERTIES FIXTURES_CLEANUP cups TIMEOUT 60)
corvane_test(tst_pdf_cups export/tst_pdf_cups.cpp DB TIMEOUT 300)
add_dependencies(tst_pdf_cups corvane-print)
set_tests_properties(tst_pdf_cups PROPERTIES FIXTURES_REQUIRED "db;cups")
set_property(TEST tst_pdf_cups APPEND PROPERTY ENVIRONMENT "CORVANE_CUPS_ENV=${CORVANE_CUPS_ENV}")
