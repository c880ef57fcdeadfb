#pragma once

#include "core/Failure.h"
#include "print/Printers.h"

#include <QStringList>

#include <functional>

// Printers in memory: records every call in `calls`.
class FakePrinters : public Printers
{
public:
    QStringList names;
    QString current;
    QStringList calls;
    // Set: reading the default fails with this.
    QString readFailure;
    long readFailureNumber = 0;
    // Runs inside setDefaultPrinter, before it changes anything.
    std::function<void(const QString &)> onSet;

    QStringList deviceNames() override
    {
        calls << QStringLiteral("names");
        return names;
    }
    QString defaultPrinter() override
    {
        calls << QStringLiteral("default");
        if (!readFailure.isEmpty())
            throw Failure(readFailure, readFailureNumber);
        return current;
    }
    void setDefaultPrinter(const QString &name) override
    {
        calls << QStringLiteral("set ") + name;
        if (onSet)
            onSet(name);
        if (!names.contains(name))
            throw Failure(QStringLiteral("Printer not found: ") + name);
        current = name;
    }
    void clearDefaultPrinter() override
    {
        calls << QStringLiteral("clear");
        current.clear();
    }
};
