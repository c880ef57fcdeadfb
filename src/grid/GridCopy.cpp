#include "grid/GridCopy.h"

#include "grid/CellDisplay.h"
#include "grid/ClipboardText.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>

namespace {

struct Cancelled
{
};

// A stored cell's text as the grid shows it: hex in a column of bytes, and
// for bytes that are not UTF-8.
std::string_view cellText(std::string_view text, bool hexColumn, QByteArray &hex)
{
    if (!hexColumn && CellDisplay::isValidUtf8(text))
        return text;
    hex = CellDisplay::hexOf(text);
    return {hex.constData(), size_t(hex.size())};
}

} // namespace

GridCopy::GridCopy(QObject *parent) : QObject(parent) { }

GridCopy::~GridCopy()
{
    stop();
}

void GridCopy::stop()
{
    m_cancel = true;
    if (m_worker.joinable())
        m_worker.join();
    m_cancel = false;
}

void GridCopy::start(Request request)
{
    stop();
    const quint64 generation = ++m_generation;
    m_busy = true;
    {
        std::lock_guard lock(m_lock);
        m_pending.reset();
        m_handed = 0;
    }
    m_worker = std::thread([this, request = std::move(request), generation] {
        std::unique_ptr<Result> result;
        try {
            result = std::make_unique<Result>(build(request, m_cancel));
        } catch (const Cancelled &) {
            return;
        } catch (const std::bad_alloc &) {
            // Done, with nothing to put on the clipboard.
        }
        std::lock_guard lock(m_lock);
        m_pending = std::move(result);
        m_handed = generation;
        QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
    });
}

void GridCopy::waitUntilDone()
{
    if (m_worker.joinable())
        m_worker.join();
    deliver();
}

void GridCopy::deliver()
{
    if (!m_busy)
        return;
    std::unique_ptr<Result> result;
    {
        std::lock_guard lock(m_lock);
        if (m_handed != m_generation)
            return; // an older copy's call; this one's is on its way
        result = std::move(m_pending);
    }
    m_busy = false;
    if (result) {
        auto *mime = new QMimeData;
        mime->setText(result->text);
        mime->setHtml(result->html);
        mime->setData(nullsFormat(), result->nulls);
        QApplication::clipboard()->setMimeData(mime);
    }
    emit finished();
}

GridCopy::Result GridCopy::build(const Request &request, const std::atomic<bool> &cancel)
{
    struct
    {
        QByteArray text;
        QByteArray html;
        QByteArray nulls;
    } out;
    out.html = ClipboardText::htmlBegin();
    QByteArray hex;
    const auto addLine = [&](const auto &cellOf) {
        out.html.append("<tr>");
        for (size_t i = 0; i < request.columns.size(); ++i) {
            if (i > 0)
                out.text.append('\t');
            const std::optional<std::string_view> cell = cellOf(request.columns[i]);
            const std::string_view text = cell ? *cell : std::string_view();
            ClipboardText::appendTextField(out.text, text);
            ClipboardText::appendHtmlField(out.html, text, !cell);
            out.nulls.append(cell ? '0' : '1');
        }
        out.text.append('\n');
        out.nulls.append('\n');
        out.html.append("</tr>\n");
    };
    if (!request.names.isEmpty()) {
        std::vector<QByteArray> names;
        for (const QString &name : request.names)
            names.push_back(name.toUtf8());
        addLine([&](int column) {
            const QByteArray &n = names[size_t(column)];
            return std::optional<std::string_view>(std::string_view(n.constData(), size_t(n.size())));
        });
    }
    std::vector<RowStore::Cell> cells;
    for (size_t r = 0; r < request.rows.size(); ++r) {
        if ((r & 1023) == 0 && cancel)
            throw Cancelled();
        const Row &row = request.rows[r];
        if (row.stored >= 0) {
            request.store->row(row.stored, cells);
            addLine([&](int column) -> std::optional<std::string_view> {
                const RowStore::Cell &c = cells[size_t(column)];
                const bool hexColumn = size_t(column) < request.hexColumns.size() && request.hexColumns[size_t(column)];
                return c.isNull() ? std::nullopt : std::optional<std::string_view>(cellText(c.text(), hexColumn, hex));
            });
        } else {
            addLine([&](int column) -> std::optional<std::string_view> {
                const std::optional<QByteArray> &c = row.cells[size_t(column)];
                if (!c)
                    return std::nullopt;
                return std::string_view(c->constData(), size_t(c->size()));
            });
        }
    }
    out.html.append(ClipboardText::htmlEnd());
    Result result;
    result.text = QString::fromUtf8(out.text);
    out.text = QByteArray();
    result.html = QString::fromUtf8(out.html);
    result.nulls = std::move(out.nulls);
    return result;
}
