#include "pages/ImportDialog.h"

#include "core/Failure.h"
#include "import/ValueCheck.h"
#include "import/XlsxReader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int ShownChars = 200;

QComboBox *makeBox(QWidget *parent, const char *name, const QStringList &items)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->addItems(items);
    return box;
}

const char Separators[] = {',', ';', '\t', '|'};

} // namespace

ImportDialog::ImportDialog(QWidget *parent, const ImportTarget &target, const ImportSettings &guessed)
    : QDialog(parent), m_target(target), m_settings(guessed)
{
    setObjectName(QStringLiteral("ImportDialog"));
    setWindowTitle(QStringLiteral("Import into %1").arg(QString::fromUtf8(target.table)));
    if (m_settings.kind == ImportSettings::Kind::Workbook) {
        try {
            m_sheets = XlsxReader::sheetNames(m_settings.path);
        } catch (const Failure &f) {
            m_readProblem = f.description();
        }
    }
    buildControls();
    syncFormatControls();
    reload();
}

void ImportDialog::buildControls()
{
    formatBox = makeBox(this, "cboFormat",
        {QStringLiteral("Comma-separated values"), QStringLiteral("Tab-separated text"),
            QStringLiteral("Excel workbook (xlsx)")});
    separatorBox = makeBox(this, "cboSeparator",
        {QStringLiteral("Comma"), QStringLiteral("Semicolon"), QStringLiteral("Tab"), QStringLiteral("Vertical bar")});
    quoteBox = makeBox(this, "cboQuote",
        {QStringLiteral("Double quote (\")"), QStringLiteral("Single quote (')"), QStringLiteral("None")});
    encodingBox
        = makeBox(this, "cboEncoding", {QStringLiteral("UTF-8"), QStringLiteral("UTF-16"), QStringLiteral("Latin-1")});
    sheetBox = makeBox(this, "cboSheet", m_sheets);
    headerBox = new QCheckBox(QStringLiteral("First row holds column &names"), this);
    headerBox->setObjectName(QStringLiteral("chkHeader"));
    emptyBox = makeBox(this, "cboEmpty",
        {QStringLiteral("NULL where the column takes it, else empty text"), QStringLiteral("NULL"),
            QStringLiteral("Empty text")});
    matchBox = makeBox(this, "cboMatch", {QStringLiteral("By name"), QStringLiteral("By position")});
    modeBox = makeBox(this, "cboMode",
        {QStringLiteral("Add new rows"), QStringLiteral("Update rows with the same key"),
            QStringLiteral("Add new rows, update rows with the same key")});
    skipBox = new QCheckBox(QStringLiteral("S&kip failing rows (they go to a file beside this one)"), this);
    skipBox->setObjectName(QStringLiteral("chkSkip"));

    auto *form = new QFormLayout;
    const auto row = [&](const QString &caption, QWidget *field) {
        auto *label = new QLabel(caption, this);
        label->setBuddy(field);
        form->addRow(label, field);
    };
    row(QStringLiteral("&Format:"), formatBox);
    row(QStringLiteral("&Separator:"), separatorBox);
    row(QStringLiteral("&Quote:"), quoteBox);
    row(QStringLiteral("&Encoding:"), encodingBox);
    row(QStringLiteral("S&heet:"), sheetBox);
    form->addRow(headerBox);
    row(QStringLiteral("&Empty fields:"), emptyBox);
    row(QStringLiteral("&Match columns:"), matchBox);
    row(QStringLiteral("&Rows:"), modeBox);
    form->addRow(skipBox);

    preview = new QTableWidget(this);
    preview->setObjectName(QStringLiteral("tblPreview"));
    preview->setAccessibleName(QStringLiteral("Preview of the first rows under the table's columns"));
    preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    summary = new QLabel(this);
    summary->setObjectName(QStringLiteral("lblSummary"));
    summary->setWordWrap(true);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Import"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *file = new QLabel(QStringLiteral("File: %1").arg(QFileInfo(m_settings.path).fileName()), this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(file);
    layout->addLayout(form);
    layout->addWidget(preview, 1);
    layout->addWidget(summary);
    layout->addWidget(buttons);
    resize(900, 600);
    connectControls();
}

void ImportDialog::connectControls()
{
    const auto changed = [this] {
        if (!m_filling)
            reload();
    };
    for (QComboBox *box : {formatBox, separatorBox, quoteBox, encodingBox, sheetBox})
        connect(box, &QComboBox::currentIndexChanged, this, changed);
    connect(headerBox, &QCheckBox::toggled, this, changed);
    connect(matchBox, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_filling)
            remap();
    });
    connect(emptyBox, &QComboBox::currentIndexChanged, this, [this] { check(); });
    connect(modeBox, &QComboBox::currentIndexChanged, this, [this] { check(); });
}

void ImportDialog::syncFormatControls()
{
    m_filling = true;
    const DelimitedFormat &t = m_settings.text;
    const bool workbook = m_settings.kind == ImportSettings::Kind::Workbook;
    formatBox->setCurrentIndex(workbook ? 2 : t.tabTerminated ? 1 : 0);
    const char *s = std::find(std::begin(Separators), std::end(Separators), t.separator);
    separatorBox->setCurrentIndex(s == std::end(Separators) ? 0 : int(s - std::begin(Separators)));
    quoteBox->setCurrentIndex(t.quote == '"' ? 0 : t.quote == '\'' ? 1 : 2);
    encodingBox->setCurrentIndex(int(t.encoding));
    sheetBox->setCurrentIndex(m_settings.sheet);
    headerBox->setChecked(m_settings.hasHeader());
    for (QWidget *w : std::initializer_list<QWidget *>{separatorBox, quoteBox, encodingBox})
        w->setEnabled(!workbook && !t.tabTerminated);
    encodingBox->setEnabled(!workbook);
    sheetBox->setEnabled(workbook);
    // Without a key no row can be matched: new rows only.
    modeBox->setEnabled(!m_target.key.empty());
    m_filling = false;
}

ImportSettings ImportDialog::settings() const
{
    ImportSettings s = m_settings;
    s.empty = emptyBox->currentIndex() == 1 ? ImportSettings::Empty::Null
        : emptyBox->currentIndex() == 2     ? ImportSettings::Empty::EmptyText
                                            : ImportSettings::Empty::NullWhereAllowed;
    s.mode = m_target.key.empty() ? ImportWriter::Mode::Insert : ImportWriter::Mode(modeBox->currentIndex());
    s.skipFailing = skipBox->isChecked();
    s.sources.assign(m_target.columns.size(), -1);
    for (int c = 0; c < int(m_target.columns.size()); ++c) {
        if (QComboBox *box = sourceBox(c))
            s.sources[size_t(c)] = box->currentIndex() - 1;
    }
    return s;
}

void ImportDialog::reload()
{
    if (!m_filling) {
        DelimitedFormat &t = m_settings.text;
        const int format = formatBox->currentIndex();
        m_settings.kind = format == 2 ? ImportSettings::Kind::Workbook : ImportSettings::Kind::Delimited;
        t.tabTerminated = format == 1;
        t.separator = format == 1 ? '\t' : Separators[std::clamp(separatorBox->currentIndex(), 0, 3)];
        t.quote = format == 1 ? 0 : quoteBox->currentIndex() == 0 ? '"' : quoteBox->currentIndex() == 1 ? '\'' : 0;
        t.encoding = DelimitedFormat::Encoding(std::max(0, encodingBox->currentIndex()));
        t.header = m_settings.sheetHeader = headerBox->isChecked();
        m_settings.sheet = std::max(0, sheetBox->currentIndex());
        syncFormatControls();
    }
    m_rows.clear();
    m_lines.clear();
    m_texts.clear();
    m_header.clear();
    m_fields = 0;
    m_readProblem.clear();
    try {
        std::unique_ptr<ImportReader> reader = m_settings.open(&m_header);
        ImportRecord record;
        while (int(m_rows.size()) < PreviewRows && reader->next(record)) {
            for (ImportField &field : record.fields) {
                m_texts.push_back(field.text.toByteArray());
                field.text = m_texts.back();
            }
            m_fields = std::max(m_fields, int(record.fields.size()));
            m_rows.push_back(record.fields);
            m_lines.push_back(record.line);
        }
    } catch (const Failure &f) {
        m_readProblem = f.description();
    }
    m_fields = std::max(m_fields, int(m_header.size()));
    remap();
}

QComboBox *ImportDialog::sourceBox(int column) const
{
    return qobject_cast<QComboBox *>(preview->cellWidget(0, column));
}

void ImportDialog::remap()
{
    const std::vector<int> sources = mapColumns(m_target, m_header, m_fields, matchBox->currentIndex() == 1);
    const int columns = int(m_target.columns.size());
    preview->clear();
    preview->setColumnCount(columns);
    preview->setRowCount(int(m_rows.size()) + 1);
    QStringList captions;
    for (const TargetColumn &c : m_target.columns)
        captions << QString::fromUtf8(c.name);
    preview->setHorizontalHeaderLabels(captions);
    QStringList lines{QStringLiteral("From")};
    for (const qint64 line : m_lines)
        lines << QString::number(line);
    preview->setVerticalHeaderLabels(lines);
    QStringList fields{QStringLiteral("(default)")};
    for (int f = 0; f < m_fields; ++f) {
        const QString name = f < m_header.size() ? QString::fromUtf8(m_header[f]) : QString();
        fields << (name.isEmpty() ? QStringLiteral("Field %1").arg(f + 1)
                                  : QStringLiteral("%1 (field %2)").arg(name).arg(f + 1));
    }
    for (int c = 0; c < columns; ++c) {
        auto *box = new QComboBox(preview);
        box->setAccessibleName(QStringLiteral("Field for column %1").arg(captions[c]));
        box->addItems(fields);
        box->setCurrentIndex(sources[size_t(c)] + 1);
        box->setEnabled(!m_target.columns[size_t(c)].generated);
        connect(box, &QComboBox::currentIndexChanged, this, [this] { check(); });
        preview->setCellWidget(0, c, box);
    }
    check();
}

QTableWidgetItem *ImportDialog::cellItem(const ImportSettings &s, int row, int column, bool &fails) const
{
    const TargetColumn &target = m_target.columns[size_t(column)];
    const int source = s.sources[size_t(column)];
    const std::vector<ImportField> &fields = m_rows[size_t(row)];
    const ImportField field = source >= 0 && source < int(fields.size()) ? fields[size_t(source)] : ImportField{};
    const bool isNull = source >= 0 && field.text.isEmpty() && !field.quoted
        && (s.empty == ImportSettings::Empty::Null
            || (s.empty == ImportSettings::Empty::NullWhereAllowed && target.nullable));
    auto *item = new QTableWidgetItem;
    if (source < 0 || isNull) {
        item->setText(source < 0 ? QStringLiteral("(default)") : QStringLiteral("NULL"));
        item->setForeground(Qt::gray);
    } else {
        const QByteArrayView shown = field.text.first(std::min<qsizetype>(field.text.size(), ShownChars * 4));
        item->setText(QString::fromUtf8(shown).left(ShownChars));
    }
    const ValueCheck verdict = source < 0 ? ValueCheck{} : ValueCheck::of(target, field.text, isNull);
    fails = verdict.verdict == ValueCheck::Verdict::Fails;
    if (verdict.verdict != ValueCheck::Verdict::Fits) {
        item->setBackground(fails ? QColor(255, 200, 200) : QColor(255, 240, 190));
        item->setToolTip(verdict.reason);
        item->setData(Qt::AccessibleDescriptionRole, verdict.reason);
        item->setData(Qt::AccessibleTextRole,
            QStringLiteral("%1: %2%3")
                .arg(item->text(), fails ? QStringLiteral("fails, ") : QString(), verdict.reason));
    }
    return item;
}

QStringList ImportDialog::columnProblems(const ImportSettings &s) const
{
    QStringList problems;
    for (int c = 0; c < int(m_target.columns.size()); ++c) {
        const TargetColumn &column = m_target.columns[size_t(c)];
        const bool isKey = std::find(m_target.key.begin(), m_target.key.end(), c) != m_target.key.end();
        const bool unmapped = s.sources[size_t(c)] < 0;
        if (unmapped && s.mode != ImportWriter::Mode::Update && !column.hasDefault && !column.generated)
            problems
                << QStringLiteral("Column %1 has no default and takes no field.").arg(QString::fromUtf8(column.name));
        if (unmapped && isKey && s.mode != ImportWriter::Mode::Insert)
            problems << QStringLiteral("The key column %1 must take a field to match rows.")
                            .arg(QString::fromUtf8(column.name));
    }
    if (m_target.key.empty())
        problems << QStringLiteral("The table has no key: rows can only be added.");
    if (!m_target.transactional)
        problems << QStringLiteral(
            "The table has no transactions: if the import fails midway, the rows written until then stay.");
    return problems;
}

void ImportDialog::check()
{
    const ImportSettings s = settings();
    m_failingRows = 0;
    for (int r = 0; r < int(m_rows.size()); ++r) {
        bool failing = false;
        for (int c = 0; c < int(m_target.columns.size()); ++c) {
            bool fails = false;
            preview->setItem(r + 1, c, cellItem(s, r, c, fails));
            failing = failing || fails;
        }
        m_failingRows += failing ? 1 : 0;
    }
    QStringList problems;
    if (!m_readProblem.isEmpty())
        problems << m_readProblem;
    if (m_failingRows > 0)
        problems << tr("%n of the first rows hold a value the column does not take (marked).", nullptr, m_failingRows);
    problems << columnProblems(s);
    summary->setText(problems.join(QLatin1Char('\n')));
    const bool anyMapped = std::any_of(s.sources.begin(), s.sources.end(), [](int source) { return source >= 0; });
    buttons->button(QDialogButtonBox::Ok)->setEnabled(m_readProblem.isEmpty() && anyMapped);
}
