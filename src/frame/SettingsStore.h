#pragma once

#include <QString>

// The per-user store of the five sign-in values: an INI file of the
// organisation "Quillmark", section "Corvane Editor Software". Every write is
// on disk when write() returns. The file holds a password, so after every
// write it is readable and writable by its owner only (0600), whatever mode
// it had before.
class SettingsStore
{
public:
    static constexpr char Organisation[] = "Quillmark";
    static constexpr char Section[] = "Corvane Editor Software";

    // The value stored under `key`, or `defaultValue` when there is none.
    static QString read(const QString &key, const QString &defaultValue);
    static void write(const QString &key, const QString &value);

    // Where the file lives ($XDG_CONFIG_HOME/Quillmark.ini).
    static QString fileName();
};
