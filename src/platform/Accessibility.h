// What assistive technology reads of the windows and what the keyboard reaches: accessible roles
// and names beyond what the widgets give by themselves, and the keys that press buttons.
#pragma once

#include <QAccessible>

#include <functional>

class QWidget;

namespace qtl {

// Registers the program's accessible interfaces with Qt (once; later calls do nothing):
//  - a selector is named by its caption (its accessible name or the label whose buddy it is),
//    also after a pick; the row it shows is its value. Qt would name it by the row on Linux.
//  - a widget given a role with SetAccessibleRole is exposed with that role.
void InstallAccessibleInterfaces();

// Exposes the widget to assistive technology with this role (for instance the main window as a
// frame rather than a filler). Call before anything has asked for the widget's interface.
void SetAccessibleRole(QWidget* widget, QAccessible::Role role);

// Enter (or the keypad's Enter) on a focused push or tool button of the window presses it, as
// Space does. Buttons that exist when this is called are covered.
void PressFocusedButtonsOnEnter(QWidget* window);

// Enter on the widget, while it has the focus, runs the action instead of the widget's own
// handling. A held key that repeats runs it once.
void OnEnterKey(QWidget* widget, std::function<void()> action);

}  // namespace qtl
