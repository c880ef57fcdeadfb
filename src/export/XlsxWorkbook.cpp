#include "export/XlsxWorkbook.h"

#include "core/Failure.h"
#include "export/XlsxNumber.h"

#include <QDir>
#include <QFile>

#include <xlsxwriter.h>

#include <algorithm>

namespace {

void check(lxw_error error)
{
    if (error != LXW_NO_ERROR)
        throw Failure(QString::fromLatin1(lxw_strerror(error)), long(error));
}

bool isContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Characters of UTF-8 text, and the length of its first `limit` characters.
qint64 characters(std::string_view text, qint64 limit, size_t *cut)
{
    qint64 count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (isContinuation(text[i]))
            continue;
        if (count == limit) {
            *cut = i;
            return count + 1;
        }
        ++count;
    }
    *cut = text.size();
    return count;
}

} // namespace

XlsxWorkbook::XlsxWorkbook(const QString &file, Opener opener, const QString &folder, qint64 rowLimit)
    : m_file(file), m_opener(std::move(opener)), m_folder(folder),
      m_rowLimit(std::clamp<qint64>(rowLimit, 2, SheetRows)), m_formats(16, nullptr)
{
    // libxlsxwriter keeps the sheets' rows in temporary files until save.
    QByteArray tmp = QFile::encodeName(QDir::tempPath());
    lxw_workbook_options options{};
    options.constant_memory = 1;
    options.tmpdir = tmp.data();
    options.use_zip64 = 1;
    m_book = workbook_new_opt(QFile::encodeName(file).constData(), &options);
    if (!m_book)
        throw Failure(QStringLiteral("Cannot start a workbook in \"%1\"").arg(file));
    addSheet();
}

XlsxWorkbook::~XlsxWorkbook()
{
    if (m_saved)
        return;
    lxw_workbook_free(m_book);
    removeCopy();
}

void XlsxWorkbook::removeCopy()
{
    QFile::remove(m_file);
    if (m_folder.isEmpty())
        return;
    QFile::remove(m_folder + QLatin1Char('/') + QLatin1String(FolderRecord));
    QDir().rmdir(m_folder);
}

void XlsxWorkbook::addSheet()
{
    if (m_saved)
        throw Failure(QStringLiteral("The workbook has been saved already."));
    lxw_worksheet *sheet = workbook_add_worksheet(m_book, nullptr);
    if (!sheet)
        throw Failure(QStringLiteral("Cannot add a sheet to the workbook."));
    m_sheet = sheet;
    m_sheets.push_back(sheet);
    m_widths.emplace_back();
}

lxw_format *XlsxWorkbook::numberFormat(int decimals)
{
    lxw_format *&format = m_formats[size_t(decimals)];
    if (!format) {
        // "0" and "0.00": no thousands separators, the text's own decimals,
        // and never the exponent form General falls back to.
        const std::string code = decimals == 0 ? "0" : "0." + std::string(size_t(decimals), '0');
        format = workbook_add_format(m_book);
        format_set_num_format(format, code.c_str());
    }
    return format;
}

void XlsxWorkbook::setCell(qint64 row, int column, std::string_view text)
{
    if (m_saved)
        throw Failure(QStringLiteral("The workbook has been saved already."));
    if (row < 1 || row > m_rowLimit || column < 1 || column > LXW_COL_MAX)
        check(LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE);
    if (const size_t nul = text.find('\0'); nul != std::string_view::npos) {
        text = text.substr(0, nul);
        ++m_cutAtNul;
    }
    size_t cut = 0;
    qint64 length = characters(text, CellChars, &cut);
    if (length > CellChars) {
        text = text.substr(0, cut);
        length = CellChars;
        ++m_shortened;
    }
    std::vector<int> &widths = m_widths.back();
    if (widths.size() < size_t(column))
        widths.resize(size_t(column), 0);
    widths[size_t(column - 1)] = std::max(widths[size_t(column - 1)], int(length));
    if (text.empty())
        return; // an empty text leaves the cell empty

    const auto r = lxw_row_t(row - 1);
    const auto c = lxw_col_t(column - 1);
    if (row > 1) {
        const XlsxNumber number = XlsxNumber::parse(text);
        if (number.isNumber) {
            check(worksheet_write_number(m_sheet, r, c, number.value, numberFormat(number.decimals)));
            return;
        }
    }
    m_scratch.assign(text);
    check(worksheet_write_string(m_sheet, r, c, m_scratch.c_str(), nullptr));
}

void XlsxWorkbook::autoFit()
{
    for (size_t s = 0; s < m_sheets.size(); ++s) {
        const std::vector<int> &widths = m_widths[s];
        for (size_t c = 0; c < widths.size(); ++c) {
            // A character of the default font is one unit wide; one more
            // leaves room beside the text, as the program's own fit does.
            const double width = std::min(255.0, std::max(widths[c], 1) + 1.0);
            check(worksheet_set_column(m_sheets[s], lxw_col_t(c), lxw_col_t(c), width, nullptr));
        }
    }
}

void XlsxWorkbook::save()
{
    if (m_saved)
        return;
    m_saved = true; // workbook_close frees the workbook even when it fails
    const lxw_error error = workbook_close(m_book);
    m_book = nullptr;
    if (error != LXW_NO_ERROR) {
        removeCopy();
        check(error);
    }
}

void XlsxWorkbook::makeVisible()
{
    save();
    if (!m_opener)
        return;
    try {
        m_opener(m_file);
    } catch (...) {
        // Nothing will read the copy: it goes now rather than with the
        // stale ones.
        removeCopy();
        throw;
    }
}
