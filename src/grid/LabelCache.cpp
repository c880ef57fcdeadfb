#include "grid/LabelCache.h"

#include "db/RowSet.h"

#include <QTimer>

#include <algorithm>

namespace {

// Values asked for in one statement at most: more than a screen holds.
constexpr size_t AskAtOnce = 200;
// Labels kept per key at most: a scroll through millions of rows would
// otherwise keep one for each. Past it they are read again as shown.
constexpr size_t KeptLabels = 100000;

} // namespace

LabelCache::LabelCache(CellReader cells, QObject *parent) : QObject(parent), m_cells(std::move(cells)) { }

LabelCache::~LabelCache() = default;

void LabelCache::reset(const ConnectParams *params, const QByteArray &table, const std::vector<FieldInfo> &fields)
{
    m_reader.reset();
    m_shown.clear();
    m_names.clear();
    for (const FieldInfo &f : fields)
        m_names.push_back(f.orgName);
    // A foreign key's columns begin an index (the server makes one when none
    // does). A table whose only index is a primary key of one column can
    // hold a foreign key only on that column: it shows no labels, and costs
    // no connection more.
    const bool indexed = std::any_of(fields.begin(), fields.end(), [](const FieldInfo &f) { return f.startsIndex(); })
        || std::count_if(fields.begin(), fields.end(), [](const FieldInfo &f) { return f.isPrimaryKey(); }) > 1;
    if (params && !table.isEmpty() && indexed)
        m_reader = std::make_unique<ForeignLabels>(*params, table, this, "takeLabels");
}

bool LabelCache::showsLabels(int column) const
{
    return m_shown.count(column) > 0;
}

QByteArray LabelCache::packed(const std::vector<CellValue> &values)
{
    QByteArray out;
    for (const CellValue &v : values)
        out += QByteArray::number(v.text.size()) + ':' + v.text;
    return out;
}

QString LabelCache::labelAt(int row, int column) const
{
    const auto it = m_shown.find(column);
    if (it == m_shown.end())
        return {};
    Shown &shown = it->second;
    std::vector<CellValue> values;
    for (const int c : shown.columns) {
        const RowStore::Cell cell = m_cells(row, c);
        if (cell.isNull())
            return {}; // refers to nothing, and needs no label
        values.push_back(CellValue::of(QByteArray(cell.text().data(), qsizetype(cell.text().size()))));
    }
    QByteArray key = packed(values);
    if (const auto found = shown.labels.find(key); found != shown.labels.end())
        return found->second;
    if (!shown.asked.count(key))
        askLater(shown, std::move(values), std::move(key));
    return {};
}

void LabelCache::askLater(Shown &shown, std::vector<CellValue> values, QByteArray key) const
{
    shown.asked.insert(std::move(key));
    shown.toAsk.push_back(std::move(values));
    if (m_askQueued)
        return;
    // After the paint in hand has asked for every cell on screen.
    m_askQueued = true;
    QTimer::singleShot(0, const_cast<LabelCache *>(this), &LabelCache::askNow);
}

void LabelCache::askNow()
{
    m_askQueued = false;
    if (!m_reader)
        return;
    for (auto &[column, shown] : m_shown) {
        while (!shown.toAsk.empty()) {
            const size_t n = std::min(AskAtOnce, shown.toAsk.size());
            std::vector<std::vector<CellValue>> batch(std::make_move_iterator(shown.toAsk.begin()),
                std::make_move_iterator(shown.toAsk.begin() + qsizetype(n)));
            shown.toAsk.erase(shown.toAsk.begin(), shown.toAsk.begin() + qsizetype(n));
            m_reader->ask(shown.key, std::move(batch));
        }
    }
}

void LabelCache::setMemory(Recall recall, Remember remember)
{
    m_recall = std::move(recall);
    m_remember = std::move(remember);
}

std::vector<QByteArray> LabelCache::labelChoices(int column) const
{
    const auto it = m_shown.find(column);
    return it == m_shown.end() ? std::vector<QByteArray>() : it->second.choices;
}

QByteArray LabelCache::labelColumn(int column) const
{
    const auto it = m_shown.find(column);
    return it == m_shown.end() ? QByteArray() : it->second.labelColumn;
}

void LabelCache::chooseLabel(int column, const QByteArray &name)
{
    const auto it = m_shown.find(column);
    if (it == m_shown.end() || !m_reader
        || std::find(it->second.choices.begin(), it->second.choices.end(), name) == it->second.choices.end())
        return;
    Shown &shown = it->second;
    shown.labelColumn = name;
    shown.labels.clear();
    shown.asked.clear();
    shown.toAsk.clear();
    m_reader->setLabelColumn(shown.key, name);
    if (m_remember)
        m_remember(shown.constraint, name);
    emit labelsChanged(column, column);
}

// Which columns show labels, once the reader has read the keys; a label
// column chosen before wins over the one the reader picked.
void LabelCache::showKeys()
{
    const std::vector<ForeignLabels::Key> keys = m_reader->keys();
    for (size_t k = 0; k < keys.size(); ++k) {
        if (keys[k].labelColumn.isEmpty())
            continue;
        Shown shown;
        shown.key = k;
        shown.constraint = keys[k].key.name;
        shown.choices = keys[k].textColumns;
        shown.labelColumn = keys[k].labelColumn;
        for (const QByteArray &name : keys[k].key.columns) {
            const auto at = std::find(m_names.begin(), m_names.end(), name);
            if (at != m_names.end())
                shown.columns.push_back(int(at - m_names.begin()));
        }
        if (shown.columns.size() != keys[k].key.columns.size())
            continue; // a key column the grid does not show
        const QByteArray chosen = m_recall ? m_recall(shown.constraint) : QByteArray();
        if (std::find(shown.choices.begin(), shown.choices.end(), chosen) != shown.choices.end()) {
            shown.labelColumn = chosen;
            m_reader->setLabelColumn(k, chosen);
        }
        const int column = *std::max_element(shown.columns.begin(), shown.columns.end());
        m_shown.emplace(column, std::move(shown));
    }
    if (!m_shown.empty())
        emit labelsChanged(m_shown.begin()->first, m_shown.rbegin()->first);
}

void LabelCache::takeLabels()
{
    if (!m_reader)
        return;
    if (m_shown.empty())
        showKeys(); // the keys come first
    int first = -1;
    int last = -1;
    for (ForeignLabels::Label &l : m_reader->take()) {
        for (auto &[column, shown] : m_shown) {
            // An answer from the column chosen before is let go.
            if (shown.key != l.key || shown.labelColumn != l.labelColumn)
                continue;
            QByteArray key = packed(l.values);
            shown.asked.erase(key);
            if (shown.labels.size() >= KeptLabels)
                shown.labels.clear();
            shown.labels[key] = l.label ? *l.label : QStringLiteral("(no such row)");
            first = first < 0 ? column : std::min(first, column);
            last = std::max(last, column);
        }
    }
    if (first >= 0)
        emit labelsChanged(first, last);
}
