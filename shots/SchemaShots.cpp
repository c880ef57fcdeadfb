#include "SchemaShots.h"

#include "schema/ColumnDefinition.h"
#include "schema/frmNewColumn.h"
#include "schema/frmNewTable.h"
#include "pages/Wizard.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPixmap>
#include <QTreeWidget>

namespace SchemaShots {

std::unique_ptr<frmNewColumn> filledNewColumn(Wizard &wizard)
{
    auto d = frmNewColumn::load(wizard.schemaOpener(), nullptr);
    d->callingform = QStringLiteral("Form3");
    d->txtName->setText(QStringLiteral("price"));
    d->cboDataType->setCurrentIndex(d->cboDataType->findText(QStringLiteral("DECIMAL")));
    d->txtM->setText(QStringLiteral("10"));
    d->txtD->setText(QStringLiteral("2"));
    d->txtDefault->setText(QStringLiteral("0.00"));
    d->chkUnsigned->setChecked(true);
    // The names AFTER would read from the open table.
    d->cboPosition->setCurrentIndex(2);
    d->cboColumnName->setEnabled(true);
    d->cboColumnName->addItems({QStringLiteral("id"), QStringLiteral("item"), QStringLiteral("qty")});
    d->cboColumnName->setCurrentIndex(1);
    return d;
}

std::unique_ptr<frmNewColumn> filledNewColumnForList(Wizard &wizard)
{
    auto d = frmNewColumn::load(wizard.schemaOpener(), nullptr);
    d->callingform = QStringLiteral("frmNewTable");
    d->cboPosition->setVisible(false);
    d->cboColumnName->setVisible(false);
    d->txtName->setText(QStringLiteral("item"));
    d->cboDataType->setCurrentIndex(d->cboDataType->findText(QStringLiteral("VARCHAR")));
    d->txtM->setText(QStringLiteral("40"));
    return d;
}

std::unique_ptr<frmNewTable> filledNewTable(Wizard &wizard)
{
    auto d = frmNewTable::load(wizard.schemaOpener(), nullptr);
    d->txtName->setText(QStringLiteral("orders"));
    const auto row = [&](const char *name, const char *type, const char *m, const char *dd, bool isUnsigned,
                         bool autoInc) {
        ColumnDefinition c;
        c.name = QString::fromUtf8(name);
        c.dataType = QString::fromLatin1(type);
        c.m = QString::fromLatin1(m);
        c.d = QString::fromLatin1(dd);
        c.isUnsigned = isUnsigned;
        c.isAutoIncrement = autoInc;
        const FieldRow r = FieldRow::from(c);
        auto *item = new QTreeWidgetItem(d->ListView1);
        for (int i = 0; i < FieldRow::CellCount; ++i)
            item->setText(i, r.cells[size_t(i)]);
    };
    row("id", "INT", "11", "", true, true);
    row("item", "VARCHAR", "40", "", false, false);
    row("price", "DECIMAL", "10", "2", false, false);
    row("ordered", "DATETIME", "", "", false, false);
    d->ListView1->topLevelItem(1)->setSelected(true);
    return d;
}

bool grab(QWidget *window, const QString &fileName)
{
    window->show();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    return window->grab().save(fileName, "PNG");
}

} // namespace SchemaShots
