#include "platform/Guard.h"

namespace qtl {

void reportException(QWidget* parent, const std::exception_ptr& error) {
    QString text;
    try {
        std::rethrow_exception(error);
    } catch (const AppError& e) {
        text = e.text();
    } catch (const std::exception& e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("Unknown error");
    }
    // The display itself must not throw into the event loop either.
    try {
        MessageBoxes::showError(parent, text);
    } catch (...) {
        qWarning("error display failed: %s", qPrintable(text));
    }
}

}  // namespace qtl
