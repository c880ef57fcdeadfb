#include "pages/Form3.h"

#include "export/PdfExport.h"
#include "pages/TableSession.h"
#include "pages/Wizard.h"
#include "print/Printers.h"

// "PDF": the grid printed through the PDF printer.
void Form3::mnuPDF_Click()
{
    NoPrinters none;
    Printers *printers = wizard().services().printers;
    ExportPdf(m_session->exportSource(), printers ? *printers : none, wizard().desktop(), this, wizard().CurrentTable);
}
