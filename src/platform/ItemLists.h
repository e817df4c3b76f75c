// List boxes whose lines carry a record of their own (owned by the line, released on clear).
#pragma once

#include <QListWidget>
#include <QStyledItemDelegate>

#include <functional>
#include <memory>
#include <vector>

namespace qtl {

// Base of records attached to list lines.
struct ItemRecord {
    virtual ~ItemRecord() = default;
};

// A list with a check box per line, the text part drawn by the program; one selected line.
class CheckListBox : public QListWidget {
    Q_OBJECT
public:
    explicit CheckListBox(QWidget* parent = nullptr);

    int count() const { return QListWidget::count(); }
    void addLine(const QString& text, std::unique_ptr<ItemRecord> record);
    void clearLines();  // releases every record, first to last
    ItemRecord* record(int index) const;
    QString lineText(int index) const;
    bool isChecked(int index) const;
    void setChecked(int index, bool checked);  // from code: emits nothing
    int itemIndex() const;  // -1 when none
    void setItemIndex(int index);  // from code: emits nothing

    // Draws the text part of a line: painter, rectangle of the text part, index, selected.
    using DrawFn = std::function<void(QPainter*, const QRect&, int, bool)>;
    void setDrawItem(DrawFn fn) { m_draw = std::move(fn); }
    const DrawFn& drawItem() const { return m_draw; }
    // What assistive technology reads as the description of a line, by its index.
    using DescribeFn = std::function<QString(int)>;
    void setDescribeLine(DescribeFn fn) { m_describe = std::move(fn); }
    static constexpr int kLineHeight = 13;

signals:
    // The selected line changed to a line by mouse or keyboard (OnClick). Focus arriving in the
    // list selects nothing and emits nothing.
    void lineClicked();
    void clickCheck(int index);  // operator toggled a check mark (mouse or space bar)
    void keyPressed(QKeyEvent* event);  // OnKeyDown, before the default handling
    void lineDoubleClicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;  // only the left button selects
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    DrawFn m_draw;
    DescribeFn m_describe;
    bool m_settingFromCode = false;
    int m_lastSelected = -1;  // the selected line lineClicked() last reported
    void selectionMoved();
    std::vector<std::unique_ptr<ItemRecord>> m_records;
    static constexpr int kCheckWidth = 16;  // the check box area at the left of a line
    class Delegate;
    friend class Delegate;
    class Line;
};

// A list in which several lines can be selected at once.
class ListBox : public QListWidget {
    Q_OBJECT
public:
    explicit ListBox(QWidget* parent = nullptr);

    int count() const { return QListWidget::count(); }
    void addLine(const QString& text, std::unique_ptr<ItemRecord> record);
    void clearLines();
    ItemRecord* record(int index) const;
    QString lineText(int index) const;
    bool isSelected(int index) const;
    void setSelected(int index, bool selected);
    int selectedCount() const;

signals:
    void keyPressed(QKeyEvent* event);  // OnKeyDown, before default handling
    void mousePressed(Qt::MouseButton button, QPoint pos);  // OnMouseDown

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;  // a right press selects nothing
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::vector<std::unique_ptr<ItemRecord>> m_records;
};

}  // namespace qtl
