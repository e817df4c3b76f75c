#include "platform/ItemLists.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace qtl {

namespace {
constexpr int kCheckedRole = Qt::UserRole + 1;
}

// Draws the check box of each line; the text part is the program's (setDrawItem).
class CheckListBox::Delegate : public QStyledItemDelegate {
public:
    explicit Delegate(CheckListBox* list) : QStyledItemDelegate(list), m_list(list) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(CheckListBox::kLineHeight);
        return s;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QRect r = option.rect;
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->fillRect(QRect(r.left(), r.top(), kCheckWidth, r.height()),
                          option.palette.base());
        QStyleOptionButton box;
        const int side = qMin(r.height(), 13);
        box.rect = QRect(r.left() + 1, r.top() + (r.height() - side) / 2, side, side);
        box.state = QStyle::State_Enabled |
                    (index.data(kCheckedRole).toBool() ? QStyle::State_On : QStyle::State_Off);
        m_list->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, m_list);

        const QRect textRect(r.left() + kCheckWidth, r.top(), r.width() - kCheckWidth, r.height());
        painter->fillRect(textRect, selected ? option.palette.highlight() : option.palette.base());
        painter->setPen(selected ? option.palette.highlightedText().color()
                                 : option.palette.text().color());
        painter->setFont(option.font);
        if (m_list->m_draw) {
            m_list->m_draw(painter, textRect, index.row(), selected);
        } else {
            painter->drawText(textRect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                              index.data(Qt::DisplayRole).toString());
        }
        painter->restore();
    }

private:
    CheckListBox* m_list;
};

CheckListBox::CheckListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setItemDelegate(new Delegate(this));
    connect(this, &QListWidget::currentRowChanged, this, [this](int) {
        if (!m_settingFromCode) emit lineClicked();
    });
}

void CheckListBox::addLine(const QString& text, std::unique_ptr<ItemRecord> record) {
    auto* item = new QListWidgetItem(text);
    item->setData(kCheckedRole, false);
    m_settingFromCode = true;
    addItem(item);
    m_settingFromCode = false;
    m_records.push_back(std::move(record));
}

void CheckListBox::clearLines() {
    m_settingFromCode = true;
    for (auto& r : m_records) r.reset();
    m_records.clear();
    clear();
    m_settingFromCode = false;
}

ItemRecord* CheckListBox::record(int index) const {
    return index >= 0 && size_t(index) < m_records.size() ? m_records[size_t(index)].get()
                                                           : nullptr;
}

QString CheckListBox::lineText(int index) const {
    const QListWidgetItem* it = item(index);
    return it ? it->text() : QString();
}

bool CheckListBox::isChecked(int index) const {
    const QListWidgetItem* it = item(index);
    return it && it->data(kCheckedRole).toBool();
}

void CheckListBox::setChecked(int index, bool checked) {
    if (QListWidgetItem* it = item(index)) it->setData(kCheckedRole, checked);
}

int CheckListBox::itemIndex() const {
    const int row = currentRow();
    return row >= 0 && currentItem() && currentItem()->isSelected() ? row : -1;
}

void CheckListBox::setItemIndex(int index) {
    m_settingFromCode = true;
    if (index < 0 || index >= count()) {
        setCurrentRow(-1);
        clearSelection();
    } else {
        setCurrentRow(index);
    }
    m_settingFromCode = false;
}

void CheckListBox::keyPressEvent(QKeyEvent* event) {
    emit keyPressed(event);
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        event->accept();
        const int row = itemIndex();
        if (row >= 0) {
            setChecked(row, !isChecked(row));
            emit clickCheck(row);
        }
        return;
    }
    QListWidget::keyPressEvent(event);
}

void CheckListBox::mousePressEvent(QMouseEvent* event) {
    // The line is selected first (its click handler runs), then a press on its check box
    // toggles the mark.
    QListWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid()) return;
    const QRect r = visualRect(index);
    if (event->position().toPoint().x() < r.left() + kCheckWidth) {
        setChecked(index.row(), !isChecked(index.row()));
        viewport()->update(r);
        emit clickCheck(index.row());
    }
}

void CheckListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    emit lineDoubleClicked();
}

// --- ListBox -----------------------------------------------------------------------------------

ListBox::ListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
}

void ListBox::addLine(const QString& text, std::unique_ptr<ItemRecord> record) {
    addItem(text);
    m_records.push_back(std::move(record));
}

void ListBox::clearLines() {
    for (auto& r : m_records) r.reset();
    m_records.clear();
    clear();
}

ItemRecord* ListBox::record(int index) const {
    return index >= 0 && size_t(index) < m_records.size() ? m_records[size_t(index)].get()
                                                           : nullptr;
}

QString ListBox::lineText(int index) const {
    const QListWidgetItem* it = item(index);
    return it ? it->text() : QString();
}

bool ListBox::isSelected(int index) const {
    const QListWidgetItem* it = item(index);
    return it && it->isSelected();
}

void ListBox::setSelected(int index, bool selected) {
    if (QListWidgetItem* it = item(index)) it->setSelected(selected);
}

int ListBox::selectedCount() const { return int(selectedItems().size()); }

void ListBox::keyPressEvent(QKeyEvent* event) {
    emit keyPressed(event);
    QListWidget::keyPressEvent(event);
}

void ListBox::mousePressEvent(QMouseEvent* event) {
    emit mousePressed(event->button(), event->position().toPoint());
    // A right press only reports itself: the selected lines are what the stream editor works on.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QListWidget::mousePressEvent(event);
}

void ListBox::mouseReleaseEvent(QMouseEvent* event) {
    // The view would otherwise select the line under the mouse when the right button comes up.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QListWidget::mouseReleaseEvent(event);
}

}  // namespace qtl
