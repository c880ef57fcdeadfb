target_sources(corvane_pages PRIVATE
  pages/Wizard.h pages/Wizard.cpp
  pages/Form1.h pages/Form1.cpp
  pages/ConnectionSecurity.h pages/ConnectionSecurity.cpp
  pages/SecurityBadge.h pages/SecurityBadge.cpp
  pages/Form2.h pages/Form2.cpp
  pages/Form3.h pages/Form3.cpp
  pages/TableSession.h pages/TableSession.cpp
  pages/Form3Schema.cpp
  pages/Form3Keys.cpp
  pages/Form3Exports.cpp
  pages/Form3Pdf.cpp
  pages/Form3Import.cpp
  pages/ImportDialog.h pages/ImportDialog.cpp
  pages/ValuePanel.h pages/ValuePanel.cpp pages/ValuePanelFiles.cpp
  pages/TableList.h pages/TableList.cpp
  pages/OpenProgress.h pages/OpenProgress.cpp
)
