#include "pages/Form3.h"

// "Add New Column": wired in with the Add Column dialog.
void Form3::chkNewColumn_Click()
{
}
