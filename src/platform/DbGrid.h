// A read-only grid over a list source; its current row is the query's current row.
#pragma once

#include "platform/Query.h"

#include <QColor>
#include <QTableView>

namespace qtl {

struct GridColumn {
    QString field;
    QString title;
    int width = 64;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
};

class DbGrid : public QTableView {
    Q_OBJECT
public:
    explicit DbGrid(QWidget* parent = nullptr);

    void bind(ListSource* source, const QVector<GridColumn>& columns);
    void setRowHeight(int pixels);
    void setAlternateRowColor(const QColor& color);  // every second row
    void setTitleFont(const QFont& font, const QColor& color);
    int rowCountShown() const;
    QString cellText(int row, int column) const;

signals:
    void gridDoubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    class Model;
    Model* m_model = nullptr;
    ListSource* m_source = nullptr;
};

}  // namespace qtl
