// Every event handler runs through the guard: an exception ends the handler and its text is
// shown by the general error display. Nothing crosses into Qt's event loop.
#pragma once

#include "platform/MessageBoxes.h"
#include "util/errors.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <exception>
#include <type_traits>
#include <utility>

namespace qtl {

void reportException(QWidget* parent, const std::exception_ptr& error);

template <class F>
void guarded(QWidget* parent, F&& handler) {
    try {
        std::forward<F>(handler)();
    } catch (...) {
        reportException(parent, std::current_exception());
    }
}

// Calls the handler with the signal's arguments when it takes them, else with none.
template <class F, class... Args>
void callWithSignalArguments(const F& handler, Args&&... args) {
    if constexpr (std::is_invocable_v<const F&, Args...>)
        handler(std::forward<Args>(args)...);
    else
        handler();
}

// connect() whose slot runs through the guard. `window` owns the error display (and is the
// context of the connection, so it ends with the window). The handler may take the signal's
// arguments or none of them.
template <class Sender, class Signal, class F>
QMetaObject::Connection onEvent(Sender* sender, Signal signal, QWidget* window, F handler) {
    QObject* context = window ? static_cast<QObject*>(window) : static_cast<QObject*>(sender);
    return QObject::connect(sender, signal, context, [window, handler](auto&&... args) {
        guarded(window, [&] { callWithSignalArguments(handler, std::forward<decltype(args)>(args)...); });
    });
}

}  // namespace qtl
