#pragma once

#include <QtGlobal>

#include <functional>

// Told how far an export has come: `done` rows of `total` (0 while the
// total is not known yet). Returns false when the user cancelled. An empty
// function never cancels.
using ExportProgress = std::function<bool(qint64 done, qint64 total)>;
