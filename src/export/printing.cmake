# PDF export through the PDF printer; the layout and the CUPS printers are
# the print layer's (src/print).
target_sources(corvane_export PRIVATE
  export/GetSetPrinter.h export/GetSetPrinter.cpp
  export/Wordpad1.h export/Wordpad1.cpp
  export/RemoveFile.h export/RemoveFile.cpp
  export/PdfExport.h export/PdfExport.cpp
)
