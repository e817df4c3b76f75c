// A selector bound to a list source: shows the list field of the row whose key it holds.
//  1. Its key value is null or a key.
//  2. Setting the key from code makes that row the query's current row; when absent (or the
//     query is closed) the text is empty and the key is still held.
//  3. When the query opens or reopens while a key is held, the same lookup is made again.
//  4. A pick by the operator (mouse in the drop-down list, Up/Down on the closed box, type-ahead)
//     makes the row current, takes its key and emits clicked(), also for the row already held.
//  5. Setting the key from code never emits clicked().
// Nothing else picks: the mouse wheel and Home, End, PageUp, PageDown (which QComboBox would
// turn into picks, each one running a step of the selection chain) leave the box as it is.
#pragma once

#include "platform/Query.h"

#include <QComboBox>
#include <QVariant>

namespace qtl {

class LookupComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit LookupComboBox(QWidget* parent = nullptr);

    void bind(ListSource* source, const QString& keyField, const QString& listField);
    ListSource* listSource() const { return m_source; }

    QVariant keyValue() const { return m_key; }
    bool hasKey() const { return !m_key.isNull() && m_key.isValid(); }
    QString keyText() const { return Query::asText(m_key); }  // "" when null
    void setKeyValue(const QVariant& key);  // rule 2 and 5
    void clearKey() { setKeyValue(QVariant()); }

    QString shownText() const;  // the list field shown ("" when none)

    void dropDown();  // opens the drop-down list
    void closeUp();  // closes it without accepting a row
    bool isDroppedDown() const;

    void setReadOnly(bool readOnly);  // no drop-down, no keyboard picks
    bool isReadOnly() const { return m_readOnly; }
    void setBackground(const QColor& color);

signals:
    void clicked();  // an operator's pick (OnClick)
    void keyPressed(QKeyEvent* event);  // every key press (OnKeyDown), before the default handling
    void mousePressed(QMouseEvent* event);  // every mouse press (OnMouseDown)

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void showPopup() override;
    void hidePopup() override;

private:
    ListSource* m_source = nullptr;
    QString m_keyField, m_listField;
    QVariant m_key;
    bool m_readOnly = false;
    bool m_popupOpen = false;
    QString m_typed;  // type-ahead text so far
    qint64 m_lastTypeAt = 0;  // ms since epoch of the last typed key
    void reload();  // items from the query; relocate the held key
    void pick(int row);
};

}  // namespace qtl
