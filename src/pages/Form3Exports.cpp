#include "pages/Form3.h"

#include "core/GridSource.h"
#include "export/ExcelExport.h"
#include "export/TextExports.h"
#include "frame/Desktop.h"
#include "frame/PagePointer.h"
#include "frame/ProgressDialog.h"
#include "pages/TableSession.h"
#include "pages/Wizard.h"

// The "Save As" menu's file exports. The writers report their own failures
// and always return, so the pointer is restored in every case.
namespace {

using Writer = bool (*)(GridSource &, const QString &, Desktop &, QWidget *, const ExportProgress &);

void saveAs(Form3 &page, const char *filter, Writer writer)
{
    Desktop &desktop = page.wizard().desktop();
    const QString name = desktop.saveFileName(&page, QStringLiteral("Save"), QString::fromLatin1(filter));
    if (name.isEmpty())
        return;
    BusyPointer busy(page.pointer());
    ProgressDialog progress(&page);
    GridSource &grid = page.session().exportSource();
    writer(grid, name, desktop, &page, progress.function());
}

} // namespace

void Form3::mnuTXT_Click()
{
    saveAs(*this, "Text Files (*.txt)|*.txt", &SaveDataGridToFile);
}

void Form3::mnuXML_Click()
{
    saveAs(*this, "XML Files (*.xml)|*.xml", &SaveDataGridToXMLFile);
}

void Form3::mnuCSV_Click()
{
    saveAs(*this, "CSV Files (*.csv)|*.csv", &SaveDataGridToCSVFile);
}

void Form3::mnuXLS_Click()
{
    ProgressDialog progress(this);
    SaveDataGridToWorkbook(m_session->exportSource(), m_wizard.services().spreadsheet, m_wizard.CurrentTable, m_wizard.desktop(),
                           this, m_pointer, progress.function());
}
