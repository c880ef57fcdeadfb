target_sources(corvane_pages PRIVATE
  pages/Wizard.h pages/Wizard.cpp
  pages/Form1.h pages/Form1.cpp
  pages/ConnectionSecurity.h pages/ConnectionSecurity.cpp
  pages/SecurityBadge.h pages/SecurityBadge.cpp
  pages/Form2.h pages/Form2.cpp
  pages/Form3.h pages/Form3.cpp
  pages/Form3Schema.cpp
  pages/Form3Exports.cpp
  pages/Form3Pdf.cpp
  pages/TableList.h pages/TableList.cpp
  pages/GridModel.h pages/GridModel.cpp
  pages/GridExportSource.h pages/GridExportSource.cpp
  pages/GridWrites.h pages/GridWrites.cpp
  pages/LoadWaiter.h pages/LoadWaiter.cpp
  pages/CellDisplay.h pages/CellDisplay.cpp
  pages/OpenProgress.h pages/OpenProgress.cpp
  pages/GridView.h pages/GridView.cpp
  pages/GridDelegate.h pages/GridDelegate.cpp
  pages/SortKeys.h pages/SortKeys.cpp
  pages/RowMatcher.h pages/RowMatcher.cpp
  pages/RowJobs.h pages/RowJobs.cpp
  pages/GridOrder.h pages/GridOrder.cpp
  pages/ShownRows.h pages/ShownRows.cpp
  pages/FindBar.h pages/FindBar.cpp
  pages/ClipboardText.h pages/ClipboardText.cpp
  pages/GridCopy.h pages/GridCopy.cpp
  pages/GridPaste.h pages/GridPaste.cpp
  pages/WriteHistory.h pages/WriteHistory.cpp
)
