#include "pages/Wizard.h"

#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"

Wizard::Wizard(const Services &services, QObject *parent) : QObject(parent), m_services(services) {}

Wizard::~Wizard()
{
    delete m_form3;
    delete m_form2;
    delete m_form1;
}

void Wizard::start()
{
    Form1 *f = form1();
    if (!f->wentOn() && !m_ended)
        f->show();
}

Form1 *Wizard::form1()
{
    if (!m_form1) {
        m_form1 = new Form1(*this);
        m_form1->Form_Load();
    }
    return m_form1;
}

Form2 *Wizard::form2()
{
    if (!m_form2) {
        m_form2 = new Form2(*this);
        m_form2->Form_Load();
    }
    return m_form2;
}

Form3 *Wizard::form3()
{
    if (!m_form3) {
        // The editor's load runs when it is first shown (Form3::showEvent).
        m_form3 = new Form3(*this);
    }
    return m_form3;
}

bool Wizard::hasForm2() const
{
    return !m_form2.isNull();
}

bool Wizard::hasForm3() const
{
    return !m_form3.isNull();
}

ConnectionFields Wizard::connectionFields()
{
    return form1()->fields();
}

QString Wizard::connectionString()
{
    return ConnectionString(connectionFields());
}

SchemaOpener Wizard::schemaOpener()
{
    return {desktop(), [this] { return connectionString(); }, [this] { return CurrentTable; }, &m_kept};
}

void Wizard::endProgram()
{
    if (m_ended)
        return;
    m_ended = true;
    for (QWidget *w : {static_cast<QWidget *>(m_form1), static_cast<QWidget *>(m_form2), static_cast<QWidget *>(m_form3)})
        if (w)
            w->hide();
    emit ended();
}
