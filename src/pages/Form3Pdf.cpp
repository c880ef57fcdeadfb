#include "pages/Form3.h"

// "PDF": wired in with the printer services.
void Form3::mnuPDF_Click() {}
