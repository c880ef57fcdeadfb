#include "import/XlsxReader.h"

#include "core/Failure.h"

#include <QFile>

#include <zip.h>

namespace {

QString zipError(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

[[noreturn]] void notWorkbook(const QString &path, const QString &why)
{
    throw Failure(QStringLiteral("\"%1\" is not a complete xlsx workbook: %2").arg(path, why));
}

} // namespace

struct XlsxReader::Zip
{
    QString path;
    zip_t *archive = nullptr;
    zip_file_t *sheet = nullptr;

    explicit Zip(const QString &file) : path(file)
    {
        int error = 0;
        archive = zip_open(QFile::encodeName(file).constData(), ZIP_RDONLY, &error);
        if (!archive)
            notWorkbook(path, zipError(error));
    }
    ~Zip()
    {
        if (sheet)
            zip_fclose(sheet);
        if (archive)
            zip_discard(archive);
    }

    bool has(const char *name) const { return zip_name_locate(archive, name, 0) >= 0; }

    QByteArray read(const QString &name) const
    {
        const QByteArray entry = name.toUtf8();
        zip_stat_t stat;
        if (zip_stat(archive, entry.constData(), 0, &stat) != 0)
            notWorkbook(path, QStringLiteral("the part \"%1\" is missing").arg(name));
        zip_file_t *file = zip_fopen(archive, entry.constData(), 0);
        if (!file)
            notWorkbook(path, QString::fromUtf8(zip_strerror(archive)));
        QByteArray data(qsizetype(stat.size), Qt::Uninitialized);
        const zip_int64_t n = zip_fread(file, data.data(), zip_uint64_t(data.size()));
        const QString why = n < 0 ? QString::fromUtf8(zip_file_strerror(file)) : QString();
        zip_fclose(file);
        if (n != zip_int64_t(data.size()))
            notWorkbook(path, why.isEmpty() ? QStringLiteral("the part \"%1\" is cut short").arg(name) : why);
        return data;
    }
};

XlsxReader::XlsxReader(const QString &path, int sheet, bool header) : m_zip(std::make_unique<Zip>(path))
{
    const QByteArray workbook = m_zip->read(QStringLiteral("xl/workbook.xml"));
    const std::vector<XlsxXml::Sheet> sheets
        = XlsxXml::sheets(workbook, m_zip->read(QStringLiteral("xl/_rels/workbook.xml.rels")));
    if (sheet < 0 || size_t(sheet) >= sheets.size())
        notWorkbook(path, QStringLiteral("it has no sheet %1").arg(sheet + 1));
    if (m_zip->has("xl/sharedStrings.xml"))
        m_shared = XlsxXml::sharedStrings(m_zip->read(QStringLiteral("xl/sharedStrings.xml")));
    if (m_zip->has("xl/styles.xml"))
        m_styles = XlsxXml::styles(m_zip->read(QStringLiteral("xl/styles.xml")));

    const QByteArray part = sheets[size_t(sheet)].part.toUtf8();
    zip_stat_t stat;
    if (zip_stat(m_zip->archive, part.constData(), 0, &stat) != 0)
        notWorkbook(path, QStringLiteral("the part \"%1\" is missing").arg(sheets[size_t(sheet)].part));
    m_total = qint64(stat.size);
    m_zip->sheet = zip_fopen(m_zip->archive, part.constData(), 0);
    if (!m_zip->sheet)
        notWorkbook(path, QString::fromUtf8(zip_strerror(m_zip->archive)));
    m_parser = std::make_unique<XlsxSheetParser>(m_shared, m_styles, XlsxXml::dates1904(workbook));
    if (!header)
        return;
    ImportRecord record;
    if (next(record)) {
        for (const ImportField &field : record.fields)
            m_header << field.text.toByteArray();
    }
}

XlsxReader::~XlsxReader() = default;

QStringList XlsxReader::sheetNames(const QString &path)
{
    Zip zip(path);
    QStringList names;
    for (const XlsxXml::Sheet &sheet : XlsxXml::sheets(
             zip.read(QStringLiteral("xl/workbook.xml")), zip.read(QStringLiteral("xl/_rels/workbook.xml.rels"))))
        names << sheet.name;
    return names;
}

bool XlsxReader::feed()
{
    if (!m_zip->sheet)
        return false;
    QByteArray piece(256 * 1024, Qt::Uninitialized);
    const zip_int64_t n = zip_fread(m_zip->sheet, piece.data(), zip_uint64_t(piece.size()));
    if (n < 0)
        notWorkbook(m_zip->path, QString::fromUtf8(zip_file_strerror(m_zip->sheet)));
    if (n == 0) {
        zip_fclose(m_zip->sheet);
        m_zip->sheet = nullptr;
        m_parser->finish();
        if (m_done != m_total)
            notWorkbook(m_zip->path, QStringLiteral("its sheet is cut short"));
        return false;
    }
    piece.truncate(qsizetype(n));
    m_done += n;
    m_parser->addData(piece);
    return true;
}

bool XlsxReader::next(ImportRecord &record)
{
    for (;;) {
        if (m_parser->next(record))
            return true;
        if (m_parser->atEnd())
            return false;
        if (!feed()) {
            // The XML has all it will get: what it holds still ends rows.
            if (m_parser->next(record))
                return true;
            return false;
        }
    }
}
