#include "frame/Trap.h"

#include "frame/Locations.h"

QString applicationErrorText(const QString &description, const QString &location, int line)
{
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ")
        + QString::number(line) + QStringLiteral("\r\r")
        + QStringLiteral("Please email screenshot of this message to ")
        + QLatin1String(Location::SupportAddress);
}

void ReportApplicationError(Desktop &desktop, QWidget *parent, const QString &description,
                            const QString &location, int line)
{
    desktop.message(parent, QStringLiteral("Application Error"),
                    applicationErrorText(description, location, line), Desktop::Icon::Warning,
                    Desktop::Buttons::Ok, Desktop::Answer::Ok);
}

void Trap::report(int line, const QString &description)
{
    ReportApplicationError(m_desktop, m_parent, description, m_location, line);
}

void Trap::report(int line, const std::exception &e)
{
    const auto *failure = dynamic_cast<const Failure *>(&e);
    report(line, failure ? failure->description() : QString::fromLocal8Bit(e.what()));
}
