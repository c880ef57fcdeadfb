#include "pages/Form3.h"

// The "Save As" menu's file exports: wired in with the export writers.
void Form3::mnuTXT_Click() {}
void Form3::mnuXML_Click() {}
void Form3::mnuCSV_Click() {}
void Form3::mnuXLS_Click() {}
