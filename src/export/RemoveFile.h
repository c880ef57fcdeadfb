#pragma once

#include <QString>

class Desktop;

// Lets pending window events run once, then deletes the file, ignoring every
// failure; when the plain delete fails, ForceDeleteFile tries again.
void RemoveFile(Desktop &desktop, const QString &path);

// Deletes the file even when it is read-only. Throws Failure.
void ForceDeleteFile(const QString &path);
