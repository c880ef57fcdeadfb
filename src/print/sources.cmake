# What the print program (app/print) needs, and nothing that reaches a
# database: the layout of a tab-separated text file as a table, and the CUPS
# printers (the PDF export switches the default printer through them too).
target_sources(corvane_print PRIVATE
  print/Printers.h
  print/CupsPrinters.h print/CupsPrinters.cpp
  print/TextTable.h print/TextTable.cpp
  print/TablePrinter.h print/TablePrinter.cpp
  print/PrintTextFile.h print/PrintTextFile.cpp
)
