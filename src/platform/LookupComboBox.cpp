#include "platform/LookupComboBox.h"

#include "platform/Accessibility.h"
#include "platform/Look.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QWheelEvent>

namespace qtl {

LookupComboBox::LookupComboBox(QWidget* parent) : QComboBox(parent) {
    InstallAccessibleInterfaces();  // named by its caption, also after a pick
    setEditable(false);
    setMaxVisibleItems(25);
    // Navy text while enabled; a disabled box keeps the style's grey so the operator sees which
    // steps of the chain are not open yet.
    SetTextColour(this, kNavy);
    // Every operator pick, from the drop-down list or the keys the base class handles, goes
    // through pick(): also a pick of the row already shown.
    connect(this, &QComboBox::activated, this, [this](int index) { pick(index); });
}

void LookupComboBox::bind(ListSource* source, const QString& keyField, const QString& listField) {
    if (m_source) disconnect(m_source->query(), nullptr, this, nullptr);
    m_source = source;
    m_keyField = keyField;
    m_listField = listField;
    if (m_source) {
        Query* q = m_source->query();
        connect(q, &Query::opened, this, [this] { reload(); });
        connect(q, &Query::closed, this, [this] { reload(); });
    }
    reload();
}

void LookupComboBox::reload() {
    const QSignalBlocker blocker(this);
    clear();
    if (!m_source) return;
    Query* q = m_source->query();
    if (!q->isOpen()) return;
    QStringList texts;
    int keyRow = -1;
    try {
        const int n = q->recordCount();
        texts.reserve(n);
        for (int r = 0; r < n; ++r) texts << Query::asText(q->valueAt(r, m_listField));
        if (hasKey()) keyRow = q->findRow(m_keyField, m_key);
    } catch (const AppError&) {
        // A result without the bound columns lists nothing; it is not this box's error to show.
        texts.clear();
        keyRow = -1;
    }
    addItems(texts);
    setCurrentIndex(keyRow);
    // With two boxes on one list, the one set or picked last decides the current row.
    QObject* last = m_source->lastSelector();
    if (keyRow >= 0 && (last == nullptr || last == this)) q->setCurrentRow(keyRow);
}

void LookupComboBox::setKeyValue(const QVariant& key) {
    m_key = key.isValid() && !key.isNull() ? key : QVariant();
    const QSignalBlocker blocker(this);
    if (!m_source) {
        setCurrentIndex(-1);
        return;
    }
    m_source->setLastSelector(this);
    Query* q = m_source->query();
    int row = -1;
    if (hasKey() && q->isOpen()) {
        try {
            row = q->findRow(m_keyField, m_key);
        } catch (const AppError&) {
            row = -1;
        }
    }
    if (row >= 0) q->setCurrentRow(row);
    setCurrentIndex(row);
}

QString LookupComboBox::shownText() const {
    return currentIndex() >= 0 ? itemText(currentIndex()) : QString();
}

void LookupComboBox::pick(int row) {
    if (m_readOnly || !m_source) return;
    Query* q = m_source->query();
    if (!q->isOpen() || row < 0 || row >= q->recordCount()) return;
    m_source->setLastSelector(this);
    q->setCurrentRow(row);
    m_key = q->valueAt(row, m_keyField);
    {
        const QSignalBlocker blocker(this);
        setCurrentIndex(row);
    }
    emit clicked();
}

void LookupComboBox::dropDown() {
    if (!m_readOnly) showPopup();
}

void LookupComboBox::closeUp() {
    hidePopup();
}

bool LookupComboBox::isDroppedDown() const {
    return m_popupOpen && view() && view()->window()->isVisible();
}

void LookupComboBox::setReadOnly(bool readOnly) {
    m_readOnly = readOnly;
    if (readOnly) hidePopup();
}

void LookupComboBox::setBackground(const QColor& color) {
    QPalette pal = palette();
    pal.setColor(QPalette::Base, color);
    pal.setColor(QPalette::Button, color);
    pal.setColor(QPalette::Window, color);
    setPalette(pal);
    setAutoFillBackground(true);
}

void LookupComboBox::showPopup() {
    if (m_readOnly) return;
    m_popupOpen = true;
    QComboBox::showPopup();
    // The list takes the focus as it opens, and a list view that gets the focus without a current
    // row makes its first row current: the first Down would then land on the second row. With no
    // row held, the list has no current row, so Down goes to the first one.
    if (currentIndex() < 0 && view() && view()->selectionModel())
        view()->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::Clear);
}

void LookupComboBox::hidePopup() {
    m_popupOpen = false;
    QComboBox::hidePopup();
}

void LookupComboBox::mousePressEvent(QMouseEvent* event) {
    emit mousePressed(event);
    if (m_readOnly) {
        event->accept();
        return;
    }
    QComboBox::mousePressEvent(event);
}

void LookupComboBox::wheelEvent(QWheelEvent* event) {
    // A wheel turned over the window must not pick rows of whatever box lies under the mouse
    // (QComboBox picks even in a box without focus, and changes a read-only box's text).
    event->ignore();
}

void LookupComboBox::keyPressEvent(QKeyEvent* event) {
    emit keyPressed(event);
    const bool plain = !(event->modifiers() & (Qt::AltModifier | Qt::ControlModifier));
    const int key = event->key();
    if (m_readOnly) {
        // Leave focus keys to the window; nothing else moves a read-only box.
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab)
            QComboBox::keyPressEvent(event);
        else
            event->accept();
        return;
    }
    if (key == Qt::Key_Home || key == Qt::Key_End || key == Qt::Key_PageUp || key == Qt::Key_PageDown ||
        key == Qt::Key_Left || key == Qt::Key_Right) {
        // QComboBox would pick the first, last or a neighbouring row here.
        event->accept();
        return;
    }
    if ((key == Qt::Key_Up || key == Qt::Key_Down) && (event->modifiers() & Qt::AltModifier)) {
        // Alt+Up and Alt+Down open the list (QComboBox would pick the row above on Alt+Up).
        event->accept();
        showPopup();
        return;
    }
    if ((key == Qt::Key_Up || key == Qt::Key_Down) && !plain) {
        event->accept();
        return;
    }
    if (plain && (key == Qt::Key_Up || key == Qt::Key_Down)) {
        event->accept();
        const int n = count();
        if (n == 0) return;
        const int cur = currentIndex();
        int row;
        if (cur < 0)
            row = 0;
        else
            row = key == Qt::Key_Up ? cur - 1 : cur + 1;
        if (row < 0 || row >= n) return;
        pick(row);
        return;
    }
    const QString text = event->text();
    if (plain && !text.isEmpty() && text.at(0).isPrint()) {
        // Type-ahead: keys typed in quick succession form the beginning searched for.
        event->accept();
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (now - m_lastTypeAt > QApplication::keyboardInputInterval()) m_typed.clear();
        m_lastTypeAt = now;
        m_typed += text;
        for (int r = 0; r < count(); ++r)
            if (itemText(r).startsWith(m_typed, Qt::CaseInsensitive)) {
                pick(r);
                return;
            }
        return;
    }
    QComboBox::keyPressEvent(event);
}

}  // namespace qtl
