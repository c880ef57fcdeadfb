#pragma once

#include "db/ConnectionString.h"
#include "frame/KeptConnection.h"
#include "frame/Services.h"
#include "schema/SchemaOpener.h"

#include <QObject>
#include <QPointer>

class Desktop;
class Form1;
class Form2;
class Form3;

// Owns the three pages and the state they share: the sign-in values live in
// the sign-in page's fields; CurrentTable is the table chosen on the picker.
// A page is created, and loaded, on first use and then only shown and hidden.
class Wizard : public QObject
{
    Q_OBJECT
public:
    explicit Wizard(const Services &services, QObject *parent = nullptr);
    ~Wizard() override;

    const Services &services() const { return m_services; }
    Desktop &desktop() const { return *m_services.desktop; }

    // Creates the sign-in page, which runs its load sequence, then shows it
    // unless the load went on to the picker.
    void start();

    Form1 *form1();
    Form2 *form2();
    Form3 *form3();
    bool hasForm2() const;
    bool hasForm3() const;

    // The sign-in values as the sign-in page's fields hold them now.
    ConnectionFields connectionFields();
    QString connectionString();
    // The connection the pages share for the sign-in values.
    KeptConnection &keptConnection() { return m_kept; }

    QString CurrentTable;
    // What a schema dialog opened now takes from the pages.
    SchemaOpener schemaOpener();

    // Ends the program at once: every page is hidden and ended() is emitted
    // (the application quits on it).
    void endProgram();
    bool hasEnded() const { return m_ended; }

signals:
    void ended();

private:
    Services m_services;
    KeptConnection m_kept;
    QPointer<Form1> m_form1;
    QPointer<Form2> m_form2;
    QPointer<Form3> m_form3;
    bool m_ended = false;
};
