#pragma once

#include "db/ImportTarget.h"
#include "import/ImportRecord.h"
#include "import/ImportSettings.h"

#include <QDialog>

#include <deque>
#include <vector>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QTableWidget;
class QTableWidgetItem;

// "Import...": how to read the file and where its fields go, with the first
// rows of the file under the table's columns. Each value is checked against
// its column as the server's strict mode would; a failing cell is marked,
// its reason in its tooltip and accessible text. The top row of the preview
// chooses each column's field (or its default). Reads the file, never the
// server.
class ImportDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int PreviewRows = 100;

    ImportDialog(QWidget *parent, const ImportTarget &target, const ImportSettings &guessed);

    // The choices made; valid after accept().
    ImportSettings settings() const;
    // Rows of the preview with a failing value, and the reason the file
    // cannot be read (empty when it can).
    int failingRows() const { return m_failingRows; }
    const QString &readProblem() const { return m_readProblem; }

    QComboBox *formatBox, *separatorBox, *quoteBox, *encodingBox, *sheetBox, *emptyBox, *matchBox, *modeBox;
    QCheckBox *headerBox, *skipBox;
    QTableWidget *preview;
    QLabel *summary;
    QDialogButtonBox *buttons;

private:
    void buildControls();
    void connectControls();
    // Reads the file anew with the format chosen, maps the columns again.
    void reload();
    void remap();
    // Fills the preview's values and marks, from the rows read.
    void check();
    // The preview's cell of `column` in record `row`; `fails` tells whether
    // its value would fail its row.
    QTableWidgetItem *cellItem(const ImportSettings &s, int row, int column, bool &fails) const;
    // What the user should know of the columns before importing.
    QStringList columnProblems(const ImportSettings &s) const;
    void syncFormatControls();
    QComboBox *sourceBox(int column) const;

    const ImportTarget &m_target;
    ImportSettings m_settings;
    QStringList m_sheets;
    QList<QByteArray> m_header;
    int m_fields = 0;
    std::vector<std::vector<ImportField>> m_rows;
    std::vector<qint64> m_lines;
    std::deque<QByteArray> m_texts; // what m_rows point into
    int m_failingRows = 0;
    QString m_readProblem;
    bool m_filling = false;
};
