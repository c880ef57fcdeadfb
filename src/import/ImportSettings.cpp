#include "import/ImportSettings.h"

#include "import/DelimitedReader.h"
#include "import/XlsxReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

std::unique_ptr<ImportReader> ImportSettings::open(QList<QByteArray> *header) const
{
    if (kind == Kind::Workbook) {
        auto reader = std::make_unique<XlsxReader>(path, sheet, sheetHeader);
        if (header)
            *header = reader->header();
        return reader;
    }
    auto reader = std::make_unique<DelimitedReader>(path, text);
    if (header)
        *header = reader->header();
    return reader;
}

ImportSettings ImportSettings::guess(const QString &path, const QStringList &columns)
{
    ImportSettings settings;
    settings.path = path;
    QFile file(path);
    QByteArray head;
    if (file.open(QIODevice::ReadOnly))
        head = file.read(64 * 1024);
    if (head.startsWith("PK\x03\x04") || path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive)) {
        settings.kind = Kind::Workbook;
        return settings;
    }
    settings.text = DelimitedFormat::detect(head, columns);
    return settings;
}

QString ImportSettings::failedRowsPath() const
{
    const QFileInfo info(path);
    return info.absoluteDir().filePath(info.completeBaseName() + QStringLiteral("-failed-rows.csv"));
}

std::vector<int> mapColumns(const ImportTarget &target, const QList<QByteArray> &header, int fields, bool byPosition)
{
    std::vector<int> sources(target.columns.size(), -1);
    for (size_t c = 0; c < target.columns.size(); ++c) {
        if (target.columns[c].generated)
            continue;
        if (byPosition || header.isEmpty()) {
            sources[c] = int(c) < fields ? int(c) : -1;
            continue;
        }
        const QString name = QString::fromUtf8(target.columns[c].name);
        for (qsizetype f = 0; f < header.size(); ++f) {
            if (QString::fromUtf8(header[f]).trimmed().compare(name, Qt::CaseInsensitive) == 0) {
                sources[c] = int(f);
                break;
            }
        }
    }
    return sources;
}
