# PDF export through the PDF printer, the CUPS printers, and the layout of
# the print program (app/print).
target_sources(corvane_export PRIVATE
  export/Printers.h
  export/CupsPrinters.h export/CupsPrinters.cpp
  export/GetSetPrinter.h export/GetSetPrinter.cpp
  export/Wordpad1.h export/Wordpad1.cpp
  export/RemoveFile.h export/RemoveFile.cpp
  export/PdfExport.h export/PdfExport.cpp
  export/TextTable.h export/TextTable.cpp
  export/TablePrinter.h export/TablePrinter.cpp
  export/PrintTextFile.h export/PrintTextFile.cpp
)
