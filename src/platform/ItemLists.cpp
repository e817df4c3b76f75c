#include "platform/ItemLists.h"

#include "platform/Look.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QPen>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace qtl {

namespace {
// The check mark lives in Qt's check-state role, where assistive technology reads it.
bool checkedIn(const QModelIndex& index) {
    return index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
}
}  // namespace

// A line of the check list: its description for assistive technology comes from the program.
class CheckListBox::Line : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    QVariant data(int role) const override {
        if (role == Qt::AccessibleDescriptionRole) {
            const auto* list = static_cast<const CheckListBox*>(listWidget());
            if (list && list->m_describe) return list->m_describe(list->row(this));
        }
        return QListWidgetItem::data(role);
    }
};

// Draws the check box of each line; the text part is the program's (setDrawItem).
class CheckListBox::Delegate : public QStyledItemDelegate {
public:
    explicit Delegate(CheckListBox* list) : QStyledItemDelegate(list), m_list(list) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(CheckListBox::kLineHeight);
        return s;
    }

    // The check box is painted by paint() in a fixed place: a line is as wide as its text.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->features &= ~QStyleOptionViewItem::HasCheckIndicator;
    }

    // The list ticks a line itself (mouse press on the box, space bar); the view must not tick it
    // again when the button comes up.
    bool editorEvent(QEvent*, QAbstractItemModel*, const QStyleOptionViewItem&, const QModelIndex&) override {
        return false;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QRect r = option.rect;
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->fillRect(QRect(r.left(), r.top(), kCheckWidth, r.height()), option.palette.base());
        QStyleOptionButton box;
        const int side = qMin(r.height(), 13);
        box.rect = QRect(r.left() + 1, r.top() + (r.height() - side) / 2, side, side);
        box.state = QStyle::State_Enabled | (checkedIn(index) ? QStyle::State_On : QStyle::State_Off);
        m_list->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, m_list);

        const QRect textRect(r.left() + kCheckWidth, r.top(), r.width() - kCheckWidth, r.height());
        painter->fillRect(textRect, selected ? option.palette.highlight() : option.palette.base());
        painter->setPen(selected ? option.palette.highlightedText().color() : option.palette.text().color());
        painter->setFont(option.font);
        if (m_list->m_draw) {
            m_list->m_draw(painter, textRect, index.row(), selected);
        } else {
            painter->drawText(textRect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                              index.data(Qt::DisplayRole).toString());
        }
        if (option.state & QStyle::State_HasFocus) {
            // The keyboard's line gets a dotted frame around its text part, drawn here because
            // the style draws focus frames only after focus moved by keyboard, if at all.
            QPen pen(selected ? option.palette.highlightedText().color() : option.palette.text().color());
            pen.setStyle(Qt::DotLine);
            pen.setCosmetic(true);
            painter->setClipRect(textRect);
            painter->setRenderHint(QPainter::Antialiasing, false);
            painter->setPen(pen);
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(textRect.adjusted(0, 0, -1, -1));
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
    // A mouse press makes the line current before it selects it; a key selects the line before
    // it becomes current. The line is reported once both agree.
    connect(this, &QListWidget::currentRowChanged, this, [this](int) { selectionMoved(); });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { selectionMoved(); });
}

void CheckListBox::selectionMoved() {
    const int selected = itemIndex();
    if (m_settingFromCode || selected == m_lastSelected) {
        m_lastSelected = selected;
        return;
    }
    m_lastSelected = selected;
    if (selected >= 0) emit lineClicked();
}

void CheckListBox::focusInEvent(QFocusEvent* event) {
    // A list view that gets the focus without a current line makes its first line current; the
    // program would take that for the operator's choice of the first student. Focus selects
    // nobody: the first Down then selects the first line.
    const bool hadCurrent = currentIndex().isValid();
    QListWidget::focusInEvent(event);
    if (!hadCurrent && currentIndex().isValid()) {
        m_settingFromCode = true;
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        m_settingFromCode = false;
    }
}

void CheckListBox::addLine(const QString& text, std::unique_ptr<ItemRecord> record) {
    auto* item = new Line(text);
    item->setData(Qt::CheckStateRole, Qt::Unchecked);
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
    return index >= 0 && size_t(index) < m_records.size() ? m_records[size_t(index)].get() : nullptr;
}

QString CheckListBox::lineText(int index) const {
    const QListWidgetItem* it = item(index);
    return it ? it->text() : QString();
}

bool CheckListBox::isChecked(int index) const {
    const QListWidgetItem* it = item(index);
    return it && checkedIn(indexFromItem(it));
}

void CheckListBox::setChecked(int index, bool checked) {
    if (QListWidgetItem* it = item(index)) it->setData(Qt::CheckStateRole, checked ? Qt::Checked : Qt::Unchecked);
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
    // Other buttons neither select a line nor tick one: the selected line is the student shown
    // in the transfer frame.
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    // The line is selected first (its click handler runs), then a press on its check box
    // toggles the mark.
    QListWidget::mousePressEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid()) return;
    const QRect r = visualRect(index);
    if (event->position().toPoint().x() < r.left() + kCheckWidth) {
        setChecked(index.row(), !isChecked(index.row()));
        viewport()->update(r);
        emit clickCheck(index.row());
    }
}

void CheckListBox::mouseReleaseEvent(QMouseEvent* event) {
    // The view would otherwise select the line under the mouse as another button comes up.
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    QListWidget::mouseReleaseEvent(event);
}

void CheckListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    QListWidget::mouseDoubleClickEvent(event);
    emit lineDoubleClicked();
}

// --- ListBox -----------------------------------------------------------------------------------

namespace {

// The style's mark of the focused line is barely seen; the line gets the check list's frame.
class FramedLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        if (!(option.state & QStyle::State_HasFocus)) return;
        const bool selected = option.state & QStyle::State_Selected;
        DrawFocusFrame(painter, option.rect,
                       selected ? option.palette.highlightedText().color() : option.palette.text().color());
    }
};

}  // namespace

ListBox::ListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setItemDelegate(new FramedLineDelegate(this));
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
    return index >= 0 && size_t(index) < m_records.size() ? m_records[size_t(index)].get() : nullptr;
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

int ListBox::selectedCount() const {
    return int(selectedItems().size());
}

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
