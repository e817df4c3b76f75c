// The one way the program shows a message box or asks a question. Tests install a recorder
// that answers from a script, so nothing ever blocks on a modal box.
#pragma once

#include <QString>

class QWidget;

namespace qtl {

enum class MbIcon { None, Information, Warning, Question, Error };
enum class MbButtons { Ok, OkCancel, YesNo };
enum class MbResult { Ok, Cancel, Yes, No };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual MbResult show(QWidget* parent, const QString& text, const QString& caption, MbIcon icon,
                          MbButtons buttons) = 0;

    // The installed implementation (the real modal boxes unless a test installed another).
    static MessageBoxes& instance();
    static void install(MessageBoxes* boxes);  // nullptr restores the real boxes

    static MbResult ask(QWidget* parent, const QString& text, const QString& caption, MbIcon icon, MbButtons buttons) {
        return instance().show(parent, text, caption, icon, buttons);
    }
    // The application's general error display: the text under the application's title, error
    // icon, OK.
    static void showError(QWidget* parent, const QString& text);
};

}  // namespace qtl
