#include "platform/Accessibility.h"

#include "platform/LookupComboBox.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>
#include <QWidget>

#include <utility>

namespace qtl {

namespace {

const char* const kRoleProperty = "qtlAccessibleRole";

// A selector: named by its caption, valued by the row it shows, with its drop-down list as its
// one child, as Qt's own combo box interface has it.
class LookupBoxAccessible : public QAccessibleWidget {
public:
    explicit LookupBoxAccessible(LookupComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return box()->currentText();
        QString s = QAccessibleWidget::text(t);
        // A box nobody captioned is still known by what it shows.
        if (t == QAccessible::Name && s.isEmpty()) s = box()->currentText();
        return s;
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() == box()->view() ? 0 : -1;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = box()->isDroppedDown();
        return s;
    }
    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << showMenuAction() << pressAction();
    }
    void doAction(const QString& name) override {
        if (name != showMenuAction() && name != pressAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        // The same as a click on the box: the list opens (a read-only box refuses) or closes.
        if (box()->isDroppedDown())
            box()->closeUp();
        else
            box()->dropDown();
    }

private:
    LookupComboBox* box() const { return static_cast<LookupComboBox*>(object()); }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return nullptr;
    const QVariant role = widget->property(kRoleProperty);
    if (role.isValid()) return new QAccessibleWidget(widget, QAccessible::Role(role.toInt()));
    if (className == QLatin1String(LookupComboBox::staticMetaObject.className()))
        return new LookupBoxAccessible(static_cast<LookupComboBox*>(widget));
    return nullptr;
}

bool isEnterKey(const QKeyEvent* key) {
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
           (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

class EnterPressesButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !isEnterKey(static_cast<QKeyEvent*>(event)))
            return QObject::eventFilter(watched, event);
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (!button || !button->isEnabled() || !button->isVisible()) return QObject::eventFilter(watched, event);
        if (!static_cast<QKeyEvent*>(event)->isAutoRepeat()) button->click();
        return true;
    }
};

class EnterRuns : public QObject {
public:
    EnterRuns(QWidget* widget, std::function<void()> action) : QObject(widget), m_action(std::move(action)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !isEnterKey(static_cast<QKeyEvent*>(event)))
            return QObject::eventFilter(watched, event);
        if (!static_cast<QKeyEvent*>(event)->isAutoRepeat()) m_action();
        return true;
    }

private:
    std::function<void()> m_action;
};

}  // namespace

void InstallAccessibleInterfaces() {
    static const bool installed = (QAccessible::installFactory(accessibleFactory), true);
    (void)installed;
}

void SetAccessibleRole(QWidget* widget, QAccessible::Role role) {
    InstallAccessibleInterfaces();
    widget->setProperty(kRoleProperty, int(role));
}

void PressFocusedButtonsOnEnter(QWidget* window) {
    auto* filter = new EnterPressesButton(window);
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (qobject_cast<QPushButton*>(button) || qobject_cast<QToolButton*>(button))
            button->installEventFilter(filter);
}

void OnEnterKey(QWidget* widget, std::function<void()> action) {
    widget->installEventFilter(new EnterRuns(widget, std::move(action)));
}

}  // namespace qtl
