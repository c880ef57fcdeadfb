#include "import/ImportJob.h"

#include "core/Failure.h"
#include "export/CsvField.h"
#include "export/ExportText.h"

#include <map>

ImportJob::ImportJob(ConnectParams params, ImportTarget target, ImportSettings settings)
    : m_params(std::move(params)), m_target(std::move(target)), m_settings(std::move(settings))
{
    // The import waits for the server as long as a statement takes; Cancel
    // acts between rows (a LOAD DATA statement under way is ended there).
    m_params.readTimeoutSeconds = 0;
    // New rows may go as LOAD DATA LOCAL, fed by the writer alone.
    m_params.localInfile = true;
}

ImportJob::~ImportJob()
{
    cancel();
    if (m_thread.joinable())
        m_thread.join();
}

void ImportJob::start()
{
    m_thread = std::thread([this] {
        m_outcome = run();
        m_finished.store(true, std::memory_order_release);
    });
}

ImportJob::Outcome ImportJob::run()
{
    Outcome outcome;
    outcome.transactional = m_target.transactional;
    Connection connection;
    std::vector<int> columns;
    for (size_t c = 0; c < m_settings.sources.size() && c < m_target.columns.size(); ++c) {
        if (m_settings.sources[c] >= 0 && !m_target.columns[c].generated)
            columns.push_back(int(c));
    }
    std::unique_ptr<ImportWriter> writer;
    try {
        if (columns.empty())
            throw Failure(QStringLiteral("No column of the table takes a field of the file."));
        std::unique_ptr<ImportReader> reader = m_settings.open();
        connection.open(m_params);
        connection.requireKnownCharset();
        writer = std::make_unique<ImportWriter>(connection, m_target, columns, m_settings.mode, m_settings.skipFailing);
        writer->begin();
        write(*writer, *reader, outcome);
        if (outcome.result == Outcome::Result::Cancelled) {
            writer->rollback();
        } else {
            writer->finish();
            outcome.result = Outcome::Result::Done;
        }
        outcome.rows = writer->rowsWritten();
    } catch (const Failure &f) {
        outcome.reason = f.description();
        outcome.lost = f.isConnectionLost();
        if (writer) {
            outcome.failedLine = writer->failedLine();
            outcome.rows = writer->rowsWritten();
            if (outcome.lost && writer->phase() == ImportWriter::Phase::Committing) {
                outcome.result = Outcome::Result::CommitUnknown;
                outcome.skipped = writer->failures();
                checkCommit(connection, outcome);
            } else
                outcome.result = Outcome::Result::Failed;
            if (!outcome.lost)
                writer->rollback();
        }
    }
    if (writer)
        outcome.skipped = writer->failures();
    if (!outcome.skipped.empty() && outcome.result == Outcome::Result::Done)
        writeFailedRows(outcome);
    m_rows.store(outcome.rows, std::memory_order_relaxed);
    return outcome;
}

void ImportJob::write(ImportWriter &writer, ImportReader &reader, Outcome &outcome)
{
    std::vector<int> fieldOf;
    std::vector<const TargetColumn *> targets;
    for (size_t c = 0; c < m_settings.sources.size() && c < m_target.columns.size(); ++c) {
        if (m_settings.sources[c] >= 0 && !m_target.columns[c].generated) {
            fieldOf.push_back(m_settings.sources[c]);
            targets.push_back(&m_target.columns[c]);
        }
    }
    std::vector<ImportValue> values(fieldOf.size());
    // Where the key's fields are among the values, when new rows carry it.
    std::vector<size_t> keyAt;
    for (const int k : m_target.key) {
        for (size_t i = 0; i < targets.size(); ++i) {
            if (targets[i] == &m_target.columns[size_t(k)])
                keyAt.push_back(i);
        }
    }
    if (keyAt.size() != m_target.key.size() || m_settings.mode != ImportWriter::Mode::Insert)
        keyAt.clear();
    m_lastKey.assign(keyAt.size(), QByteArray());
    ImportRecord record;
    m_total.store(reader.total(), std::memory_order_relaxed);
    qint64 n = 0;
    writer.addAll([&] {
        if ((n++ & 255) == 0) {
            m_done.store(reader.done(), std::memory_order_relaxed);
            m_rows.store(writer.rowsSent(), std::memory_order_relaxed);
            if (m_cancel.load(std::memory_order_relaxed)) {
                outcome.result = Outcome::Result::Cancelled;
                return false;
            }
        }
        if (!reader.next(record))
            return false;
        for (size_t i = 0; i < fieldOf.size(); ++i) {
            const ImportField field
                = size_t(fieldOf[i]) < record.fields.size() ? record.fields[size_t(fieldOf[i])] : ImportField{};
            ImportValue &value = values[i];
            value.text = field.text;
            value.hex = targets[i]->isBytes();
            value.isNull = false;
            if (field.text.isEmpty() && !field.quoted) {
                value.isNull = m_settings.empty == ImportSettings::Empty::Null
                    || (m_settings.empty == ImportSettings::Empty::NullWhereAllowed && targets[i]->nullable);
            }
        }
        writer.add(values.data(), record.line);
        for (size_t j = 0; j < keyAt.size(); ++j) {
            // Copied into the same buffer: no allocation once it is large enough.
            const ImportValue &v = values[keyAt[j]];
            m_lastKey[j].resize(v.text.size());
            std::copy(v.text.begin(), v.text.end(), m_lastKey[j].begin());
        }
        m_lastLine = keyAt.empty() ? 0 : record.line;
        return true;
    });
    m_done.store(reader.done(), std::memory_order_relaxed);
}

void ImportJob::checkCommit(const Connection &lost, Outcome &outcome) const
{
    const bool lastSkipped = !outcome.skipped.empty() && outcome.skipped.back().line == m_lastLine;
    if (m_lastLine == 0 || lastSkipped)
        return;
    try {
        ConnectParams params = m_params;
        params.localInfile = false;
        Connection fresh;
        fresh.open(params);
        // Another server (a fail-over) cannot tell about the lost session.
        if (lost.serverIdentity().isEmpty() || fresh.serverIdentity() != lost.serverIdentity())
            return;
        const bool committed = ImportWriter::keyIsThere(fresh, lost.sessionId(), m_target, m_lastKey);
        outcome.result = committed ? Outcome::Result::Done : Outcome::Result::Failed;
        outcome.reason = committed ? QString() : QStringLiteral("The server did not commit the import.");
    } catch (const Failure &) {
        // Not known, as it was.
    }
}

void ImportJob::writeFailedRows(Outcome &outcome) const
{
    // The failing records as the file has them, read again, after their
    // line and the reason: fixed, the file imports as the original did.
    std::map<qint64, QString> reasons;
    for (const ImportWriter::RowFailure &f : outcome.skipped)
        reasons.emplace(f.line, f.reason);
    QList<QByteArray> header;
    QByteArray text;
    try {
        std::unique_ptr<ImportReader> reader = m_settings.open(&header);
        text += "line,reason";
        for (const QByteArray &name : header) {
            text += ',';
            appendCsvField(text, name, false);
        }
        text += "\r\n";
        ImportRecord record;
        while (reader->next(record)) {
            const auto reason = reasons.find(record.line);
            if (reason == reasons.end())
                continue;
            text += QByteArray::number(record.line) + ',';
            appendCsvField(text, reason->second.toUtf8(), false);
            for (const ImportField &field : record.fields) {
                text += ',';
                appendCsvField(text, field.text, field.text.isEmpty() && !field.quoted);
            }
            text += "\r\n";
        }
        WriteTextFile(text, m_settings.failedRowsPath());
        outcome.failedRowsFile = m_settings.failedRowsPath();
    } catch (const Failure &f) {
        outcome.reason = QStringLiteral("The failing rows could not be written to \"%1\": %2")
                             .arg(m_settings.failedRowsPath(), f.description());
    }
}
