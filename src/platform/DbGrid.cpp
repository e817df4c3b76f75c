#include "platform/DbGrid.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>

#include <optional>

namespace qtl {

class DbGrid::Model : public QAbstractTableModel {
public:
    Model(QObject* parent) : QAbstractTableModel(parent) {}

    void bind(Query* query, const QVector<GridColumn>& columns) {
        beginResetModel();
        m_query = query;
        m_columns = columns;
        m_rows = query && query->isOpen() ? query->recordCount() : 0;
        endResetModel();
    }
    void refresh() {
        beginResetModel();
        m_rows = m_query && m_query->isOpen() ? m_query->recordCount() : 0;
        endResetModel();
    }
    bool stale() const { return m_query && m_rows != m_query->recordCount(); }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_columns.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!m_query || !index.isValid() || index.row() >= m_rows) return {};
        const GridColumn& c = m_columns[index.column()];
        switch (role) {
        case Qt::DisplayRole: try { return Query::asText(m_query->valueAt(index.row(), c.field));
            } catch (const AppError&) {
                return QString();
            }
        case Qt::TextAlignmentRole: return QVariant::fromValue(c.alignment);
        case Qt::BackgroundRole:
            if (m_alternate.isValid() && index.row() % 2 == 1) return m_alternate;
            return {};
        default: return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size()) return {};
        switch (role) {
        case Qt::DisplayRole: return m_columns[section].title;
        case Qt::FontRole: return m_titleFont.has_value() ? QVariant(*m_titleFont) : QVariant();
        case Qt::ForegroundRole: return m_titleColor.isValid() ? QVariant(m_titleColor) : QVariant();
        default: return {};
        }
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    QColor m_alternate;
    std::optional<QFont> m_titleFont;
    QColor m_titleColor;

private:
    Query* m_query = nullptr;
    QVector<GridColumn> m_columns;
    int m_rows = 0;
};

DbGrid::DbGrid(QWidget* parent) : QTableView(parent), m_model(new Model(this)) {
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->hide();
    // Whole rows are chosen, so Tab has no cell to go to: it leaves the grid for the next control.
    setTabKeyNavigation(false);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
        if (m_source && current.isValid()) m_source->query()->setCurrentRow(current.row());
    });
}

void DbGrid::bind(ListSource* source, const QVector<GridColumn>& columns) {
    if (m_source) disconnect(m_source->query(), nullptr, this, nullptr);
    m_source = source;
    Query* q = source ? source->query() : nullptr;
    m_model->bind(q, columns);
    for (int i = 0; i < columns.size(); ++i) setColumnWidth(i, columns[i].width);
    if (!q) return;
    const auto showCurrent = [this] {
        Query* query = m_source->query();
        if (m_model->stale()) m_model->refresh();
        const int row = query->currentRow();
        if (row >= 0 && row < m_model->rowCount()) {
            const QModelIndex idx = m_model->index(row, qMax(0, currentIndex().column()));
            if (currentIndex().row() != row)
                selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
    };
    connect(q, &Query::opened, this, [this, showCurrent] {
        m_model->refresh();
        showCurrent();
    });
    connect(q, &Query::closed, this, [this] { m_model->refresh(); });
    connect(q, &Query::currentChanged, this, [showCurrent](int) { showCurrent(); });
    showCurrent();
}

void DbGrid::setRowHeight(int pixels) {
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(pixels);
}

void DbGrid::setAlternateRowColor(const QColor& color) {
    m_model->m_alternate = color;
    viewport()->update();
}

void DbGrid::setTitleFont(const QFont& font, const QColor& color) {
    m_model->m_titleFont = font;
    m_model->m_titleColor = color;
    horizontalHeader()->setFont(font);
    QPalette pal = horizontalHeader()->palette();
    pal.setColor(QPalette::ButtonText, color);
    pal.setColor(QPalette::WindowText, color);
    horizontalHeader()->setPalette(pal);
}

int DbGrid::rowCountShown() const {
    return m_model->rowCount();
}

QString DbGrid::cellText(int row, int column) const {
    return m_model->data(m_model->index(row, column), Qt::DisplayRole).toString();
}

void DbGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    emit gridDoubleClicked();
}

}  // namespace qtl
