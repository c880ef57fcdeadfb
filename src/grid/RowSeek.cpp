#include "grid/RowSeek.h"

#include "db/RowSet.h"
#include "grid/GridModel.h"
#include "grid/GridView.h"

#include <string_view>

#include <QTimer>

RowSeek::RowSeek(GridView &view, std::vector<std::pair<int, CellValue>> cells, int column)
    : QObject(&view), m_view(&view), m_model(view.gridModel()), m_cells(std::move(cells)), m_column(column)
{
    if (!m_model) {
        QTimer::singleShot(0, this, [this] {
            emit missing();
            deleteLater();
        });
        return;
    }
    connect(m_model, &QAbstractItemModel::rowsInserted, this,
        [this](const QModelIndex &, int first, int last) { look(first, last); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { deleteLater(); });
    connect(m_model, &GridModel::loadFinished, this, [this] {
        look(0, m_model->rowCount({}) - 1);
        if (!m_model.isNull() && !signalsBlocked()) {
            emit missing();
            deleteLater();
        }
    });
    // After the caller has connected to the signals.
    QTimer::singleShot(0, this, [this] {
        if (m_model)
            look(0, m_model->rowCount({}) - 1);
    });
}

void RowSeek::look(int first, int last)
{
    if (!m_model || !m_view || signalsBlocked())
        return;
    const RowSet *rows = m_model->rowSet();
    if (!rows)
        return;
    last = std::min<qint64>(last, rows->recordCount() - 1);
    for (int r = first; r <= last; ++r) {
        bool same = true;
        for (const auto &[column, value] : m_cells) {
            const RowStore::Cell cell = rows->rows().cell(r, column);
            if (cell.isNull() != value.isNull
                || (!value.isNull
                    && std::string_view(cell.text().data(), cell.text().size())
                        != std::string_view(value.text.constData(), size_t(value.text.size())))) {
                same = false;
                break;
            }
        }
        if (!same)
            continue;
        const QModelIndex shown = m_view->fromModel(m_model->index(r, m_column));
        m_view->setCurrentIndex(shown);
        m_view->scrollToNow(shown, QAbstractItemView::PositionAtCenter);
        emit found(r);
        blockSignals(true); // once
        deleteLater();
        return;
    }
}
