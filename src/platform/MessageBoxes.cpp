#include "platform/MessageBoxes.h"

#include "platform/ApplicationTitle.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

#include <utility>

namespace qtl {

namespace {

class RealMessageBoxes : public MessageBoxes {
public:
    MbResult show(QWidget* parent, const QString& text, const QString& caption, MbIcon icon,
                  MbButtons buttons) override {
        QMessageBox box(parent);
        box.setWindowTitle(caption);
        box.setText(text);
        switch (icon) {
        case MbIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        case MbIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MbIcon::Warning: box.setIcon(QMessageBox::Warning); break;
        case MbIcon::Question: box.setIcon(QMessageBox::Question); break;
        case MbIcon::Error: box.setIcon(QMessageBox::Critical); break;
        }
        switch (buttons) {
        case MbButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
        case MbButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Ok);
            break;
        case MbButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            break;
        }
        // OK and Отмена come from Qt's Russian translation. Its Да and Нет carry mnemonics ("&Да",
        // "&Нет"): the letters are underlined and a bare press of Д or Н answers the box, so a stray
        // key in the Russian layout could confirm a deletion. They keep plain texts.
        const std::pair<QMessageBox::StandardButton, QString> texts[] = {
            {QMessageBox::Yes, QStringLiteral("Да")},
            {QMessageBox::No, QStringLiteral("Нет")},
        };
        for (const auto& [which, text] : texts)
            if (QAbstractButton* button = box.button(which)) button->setText(text);
        switch (box.exec()) {
        case QMessageBox::Ok: return MbResult::Ok;
        case QMessageBox::Yes: return MbResult::Yes;
        case QMessageBox::No: return MbResult::No;
        default:
            // Closing the box counts as its negative answer.
            return buttons == MbButtons::YesNo ? MbResult::No
                   : buttons == MbButtons::Ok  ? MbResult::Ok
                                               : MbResult::Cancel;
        }
    }
};

RealMessageBoxes g_real;
MessageBoxes* g_installed = nullptr;

}  // namespace

MessageBoxes& MessageBoxes::instance() {
    return g_installed ? *g_installed : g_real;
}

void MessageBoxes::install(MessageBoxes* boxes) {
    g_installed = boxes;
}

void MessageBoxes::showError(QWidget* parent, const QString& text) {
    instance().show(parent, text, applicationTitle(), MbIcon::Error, MbButtons::Ok);
}

}  // namespace qtl
