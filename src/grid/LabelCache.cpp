#include "grid/LabelCache.h"

#include "core/Failure.h"
#include "core/Wait.h"
#include "db/RowSet.h"

#include <QTimer>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>

namespace {

// Rows a search shows, a part: one screen of the picker.
constexpr int SearchRows = 20;
const QString NoSuchRow = QStringLiteral("(no such row)");

// Values asked for in one statement at most: more than a screen holds.
constexpr size_t AskAtOnce = 200;
// Labels kept per key at most: a scroll through millions of rows would
// otherwise keep one for each. Past it they are read again as shown.
constexpr size_t KeptLabels = 100000;

// Asks the reader (`ask` passes it the call that takes the answer, on the
// reader's thread) and waits for the answer; none when the reader could not
// give one or the wait ended first.
template <typename T> std::optional<T> answerOf(const std::function<void(std::function<void(std::optional<T>)>)> &ask)
{
    struct Answer
    {
        std::mutex lock;
        bool done = false;
        std::optional<T> value;
    };
    const auto answer = std::make_shared<Answer>();
    Wait wait;
    const std::function<void()> wake = wait.waker();
    ask([answer, wake](std::optional<T> value) {
        {
            std::lock_guard<std::mutex> hold(answer->lock);
            answer->value = std::move(value);
            answer->done = true;
        }
        wake();
    });
    wait.until([answer] {
            std::lock_guard<std::mutex> hold(answer->lock);
            return answer->done;
        })
        .run();
    std::lock_guard<std::mutex> hold(answer->lock);
    return answer->done ? std::move(answer->value) : std::nullopt;
}

} // namespace

LabelCache::LabelCache(CellReader cells, QObject *parent) : QObject(parent), m_cells(std::move(cells)) { }

LabelCache::~LabelCache() = default;

void LabelCache::reset(const ConnectParams *params, const QByteArray &table, const std::vector<FieldInfo> &fields)
{
    m_reader.reset();
    m_shown.clear();
    m_places.clear();
    m_names.clear();
    m_params.reset();
    if (params)
        m_params = *params;
    m_table = table;
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
        KeyPlace place{keys[k].key, {}};
        for (const QByteArray &name : keys[k].key.columns) {
            const auto at = std::find(m_names.begin(), m_names.end(), name);
            if (at != m_names.end())
                place.columns.push_back(int(at - m_names.begin()));
        }
        if (place.columns.size() == keys[k].key.columns.size())
            m_places.push_back(std::move(place));
        if (keys[k].labelColumn.isEmpty())
            continue;
        Shown shown;
        shown.key = k;
        shown.constraint = keys[k].key.name;
        shown.refTable = QString::fromUtf8(keys[k].key.refTable);
        shown.foreignKey = keys[k].key;
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
    if (m_shown.empty() && m_places.empty())
        showKeys(); // the keys come first
    for (const ForeignLabels::Found &f : m_reader->takeFound())
        emit matchesFound(f);
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
            shown.labels[key] = l.label ? *l.label : NoSuchRow;
            first = first < 0 ? column : std::min(first, column);
            last = std::max(last, column);
        }
    }
    if (first >= 0)
        emit labelsChanged(first, last);
}

std::vector<int> LabelCache::keyColumns(int column) const
{
    const auto it = m_shown.find(column);
    return it == m_shown.end() ? std::vector<int>() : it->second.columns;
}

QString LabelCache::referredTable(int column) const
{
    const auto it = m_shown.find(column);
    return it == m_shown.end() ? QString() : it->second.refTable;
}

quint64 LabelCache::search(int column, const QString &text, bool contains)
{
    const auto it = m_shown.find(column);
    if (it == m_shown.end() || !m_reader || (contains && text.isEmpty()))
        return 0;
    m_reader->search(it->second.key, text, contains, SearchRows, ++m_tickets);
    return m_tickets;
}

void LabelCache::pickedRow(int column, const std::vector<CellValue> &values, const QString &label)
{
    const auto it = m_shown.find(column);
    if (it != m_shown.end() && it->second.labels.size() < KeptLabels)
        it->second.labels[packed(values)] = label;
}

bool LabelCache::knownKey(const Shown &shown, const std::vector<CellValue> &values) const
{
    const auto it = shown.labels.find(packed(values));
    return it != shown.labels.end() && it->second != NoSuchRow;
}

void LabelCache::keysForLabels(const std::vector<Edit> &edits)
{
    std::vector<int> columns;
    for (const auto &[column, shown] : m_shown)
        columns.push_back(column);
    for (const int column : columns)
        keysForLabels(column, edits);
}

void LabelCache::keysForLabels(int column, const std::vector<Edit> &edits)
{
    const Shown &asked = m_shown.at(column);
    const size_t key = asked.key;
    const QByteArray constraint = asked.constraint;
    std::vector<std::vector<CellValue>> tuples;
    std::vector<size_t> of; // the edit each tuple is of
    for (size_t e = 0; e < edits.size(); ++e) {
        const auto typed = edits[e].changes->find(column);
        if (typed == edits[e].changes->end() || typed->second.isNull)
            continue;
        std::vector<CellValue> values;
        for (const int c : asked.columns) {
            const auto changed = edits[e].changes->find(c);
            values.push_back(changed != edits[e].changes->end() ? changed->second
                    : edits[e].original                         ? edits[e].original->at(size_t(c))
                                                                : CellValue::null());
        }
        // A key with a NULL refers to nothing, and a known one needs no asking.
        if (std::none_of(values.begin(), values.end(), [](const CellValue &v) { return v.isNull; })
            && !knownKey(asked, values)) {
            tuples.push_back(std::move(values));
            of.push_back(e);
        }
    }
    if (tuples.empty() || !m_reader)
        return;
    const std::optional<std::vector<ForeignLabels::Resolved>> answer = answerOf<std::vector<ForeignLabels::Resolved>>(
        [this, key, &tuples](auto done) { m_reader->resolve(key, tuples, std::move(done)); });
    // The table may have been closed or opened anew meanwhile.
    const auto now = m_shown.find(column);
    if (!answer || now == m_shown.end() || now->second.constraint != constraint)
        return; // the server's own check judges them
    const Shown &shown = now->second;
    const std::vector<ForeignLabels::Resolved> &resolved = *answer;
    for (size_t t = 0; t < tuples.size() && t < resolved.size(); ++t) {
        const ForeignLabels::Resolved &r = resolved[t];
        if (r.isKey)
            continue;
        const QString typed = QString::fromUtf8(tuples[t].back().text);
        if (r.count == 0)
            throw Failure(ForeignKeys::noRowText(shown.foreignKey, tuples[t], shown.foreignKey.schema)
                + QStringLiteral(" No row of it has the label \"%1\" either.").arg(typed));
        if (r.count > 1)
            throw Failure(QStringLiteral("%L1 rows of `%2` have the label \"%3\": type or pick the key of the one "
                                         "you mean.")
                              .arg(r.count)
                              .arg(shown.refTable, typed));
        CellChanges &changes = *edits[of[t]].changes;
        for (size_t c = 0; c < shown.columns.size() && c < r.values.size(); ++c)
            changes[shown.columns[c]] = r.values[c];
    }
}

std::optional<LabelCache::KeyPlace> LabelCache::keyAt(int column) const
{
    for (const KeyPlace &p : m_places)
        if (std::find(p.columns.begin(), p.columns.end(), column) != p.columns.end())
            return p;
    return std::nullopt;
}

std::optional<ForeignLabels::Referring> LabelCache::referringRows(const NamedValues &row)
{
    if (!m_reader && m_params && !m_table.isEmpty())
        m_reader = std::make_unique<ForeignLabels>(*m_params, m_table, this, "takeLabels");
    if (!m_reader)
        return std::nullopt;
    return answerOf<ForeignLabels::Referring>([this, &row](auto done) { m_reader->referring(row, std::move(done)); });
}
