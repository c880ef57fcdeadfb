target_sources(corvane_export PRIVATE
  export/GridWalk.h export/GridWalk.cpp
  export/ExportText.h export/ExportText.cpp
  export/CsvField.h
  export/LinkRule.h export/LinkRule.cpp
  export/TextExports.h export/TextExports.cpp
  export/PrintableGrid.h export/PrintableGrid.cpp
  export/Spreadsheet.h
  export/XlsxNumber.h export/XlsxNumber.cpp
  export/XlsxWorkbook.h export/XlsxWorkbook.cpp
  export/XlsxSpreadsheet.h export/XlsxSpreadsheet.cpp
  export/ExcelExport.h export/ExcelExport.cpp
)
include(export/printing.cmake)
