#pragma once

#include <QString>

// Where an export to `path` writes: `path` itself, or the file its symbolic
// link names. A link in a sticky folder that anyone may write to (/tmp) is
// followed only when the exporting user or the folder's owner made it, the
// rule the kernel itself applies to such folders; anyone else's link there
// may have been planted to make the export replace a private file, so it is
// refused with a Failure that says so.
QString exportTarget(const QString &path);
