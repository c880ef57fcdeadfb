#pragma once

// Location texts of the trapped handlers, as the "Application Error" report
// shows them. Each ends with one blank; "at line " follows directly. Some name
// a procedure by an older control name; they are kept as users know them.
namespace Location {

inline constexpr char SupportAddress[] = "support@quillmark.example";

inline constexpr char Form1_PushButton2_Click[] = "in Corvane2020/08/02.Form1.PushButton2_Click ";
inline constexpr char Form1_PushButton3_Click[] = "in Corvane2020/08/02.Form1.PushButton3_Click ";
inline constexpr char Form1_PushButton5_Click[] = "in Corvane2020/08/02.Form1.PushButton5_Click ";
inline constexpr char Form1_Form_Load[] = "in Corvane2020/08/02.Form1.Form_Load ";

inline constexpr char Form2_PushButton2_Click[] = "in Corvane2020/08/02.Form2.PushButton2_Click ";
inline constexpr char Form2_PushButton3_Click[] = "in Corvane2020/08/02.Form2.PushButton3_Click ";
inline constexpr char Form2_PushButton4_Click[] = "in Corvane2020/08/02.Form2.PushButton4_Click ";
inline constexpr char Form2_Form_Load[] = "in Corvane2020/08/02.Form2.Form_Load ";

inline constexpr char Form3_PushButton1_Click[] = "in Corvane2020/08/02.Form3.PushButton1_Click ";
inline constexpr char Form3_chkNewColumn_Click[] = "in Corvane2020/08/02.Form3.chkNewColumn_Click ";
inline constexpr char Form3_PushButton3_Click[] = "in Corvane2020/08/02.Form3.PushButton3_Click ";
inline constexpr char Form3_PushButton4_Click[] = "in Corvane2020/08/02.Form3.PushButton4_Click ";
inline constexpr char Form3_cmdAddNewRow_Click[] = "in Corvane2020/08/02.Form3.cmdAddNewRow_Click ";
inline constexpr char Form3_PushButton6_Click[] = "in Corvane2020/08/02.Form3.PushButton6_Click ";
inline constexpr char Form3_Form_Load[] = "in Corvane2020/08/02.Form3.Form_Load ";
inline constexpr char Form3_mnuPDF_Click[] = "in Corvane2020/08/02.Form3.mnuPDF_Click ";
inline constexpr char Form3_mnuXLS_Click[] = "in Corvane.Form3.mnuXLS_Click ";

inline constexpr char frmNewColumn_cmdAdd_Click[] = "in Corvane2020/08/02.frmNewColumn.cmdAdd_Click ";
inline constexpr char frmNewColumn_Form_Load[] = "in Corvane2020/08/02.frmNewColumn.Form_Load ";
// A failure to read the column names for "AFTER" is reported under this text.
inline constexpr char frmNewColumn_cboPosition_Click[] = "in Corvane2020/08/02.frmNewColumn.cboPosition_Click ";

inline constexpr char frmNewTable_cmdAdd_Click[] = "in Corvane2020/08/02.frmNewTable.cmdAdd_Click ";
inline constexpr char frmNewTable_PushButton1_Click[] = "in Corvane2020/08/02.frmNewTable.PushButton1_Click ";
inline constexpr char frmNewTable_PushButton2_Click[] = "in Corvane2020/08/02.frmNewTable.PushButton2_Click ";
inline constexpr char frmNewTable_PushButton3_Click[] = "in Corvane2020/08/02.frmNewTable.PushButton3_Click ";
inline constexpr char frmNewTable_Form_Load[] = "in Corvane2020/08/02.frmNewTable.Form_Load ";

inline constexpr char Datagrid1_SaveDataGridToFile[] = "in Corvane2020/08/02.Datagrid1.SaveDataGridToFile ";
inline constexpr char Datagrid1_SaveDataGridToXMLFile[] = "in Corvane2020/08/02.Datagrid1.SaveDataGridToXMLFile ";
inline constexpr char Datagrid1_SaveDataGridToCSVFile[] = "in Corvane2020/08/02.Datagrid1.SaveDataGridToCSVFile ";

} // namespace Location
