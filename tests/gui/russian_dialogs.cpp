// Qt's own dialogs and menus as the operator sees them: in Russian, from Qt's translation, which
// the program installs at start whatever the system's language (this process does the same in
// tests/gui/main.cpp). Each dialog is the one the program opens, answered without blocking.
#include "search_helpers.h"

#include "Unit10.h"
#include "platform/FileDialogs.h"
#include "platform/MessageBoxes.h"
#include "platform/Translation.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTreeView>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>

using qtltest::lookup::whenModal;

namespace {

// A text as it reads on screen: without mnemonic markers and the shortcut column of a menu.
QString onScreen(QString text) {
    text = text.section(QLatin1Char('\t'), 0, 0);
    return text.remove(QLatin1Char('&'));
}

QStringList sorted(QStringList texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
}

QStringList buttonTexts(const QList<QAbstractButton*>& buttons) {
    QStringList texts;
    for (const QAbstractButton* b : buttons) texts << onScreen(b->text());
    return sorted(texts);
}

// What a named child of a dialog shows: a label's or button's text, a group's title, a tool
// button's tool tip.
QString shownBy(const QWidget* dialog, const QString& name) {
    const auto* child = dialog->findChild<QWidget*>(name);
    if (!child) return QStringLiteral("<no ") + name + QLatin1Char('>');
    if (const auto* label = qobject_cast<const QLabel*>(child)) return onScreen(label->text());
    if (const auto* group = qobject_cast<const QGroupBox*>(child)) return onScreen(group->title());
    if (const auto* button = qobject_cast<const QAbstractButton*>(child))
        return button->text().isEmpty() ? button->toolTip() : onScreen(button->text());
    return child->toolTip();
}

struct Shown {
    const char* name;  // the child's object name
    const char* text;
};

// Texts compared as UTF-8 so that a failure prints them readably.
std::string utf8(const QStringList& texts) {
    return texts.join(QStringLiteral(" | ")).toStdString();
}

using ShownTexts = std::map<std::string, std::string>;

ShownTexts readNames(const QWidget* dialog, std::initializer_list<Shown> expected) {
    ShownTexts seen;
    for (const Shown& e : expected) seen[e.name] = shownBy(dialog, QLatin1String(e.name)).toStdString();
    return seen;
}

void expectShown(ShownTexts seen, std::initializer_list<Shown> expected) {
    for (const Shown& e : expected) EXPECT_EQ(seen[e.name], e.text) << e.name;
}

TEST(QtTranslation, TheFirstFolderWithAReadableFileIsUsed) {
    const QString real =
        QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath)).filePath(QStringLiteral("qtbase_ru.qm"));
    ASSERT_TRUE(QFile::exists(real)) << "qt6-translations-l10n is not installed";
    enum Content { None, Real, Broken };
    struct Case {
        Content beside, library;
        int expected;  // 0 beside, 1 library, -1 none
    } const cases[] = {
        {Real, Real, 0}, {None, Real, 1}, {Broken, Real, 1}, {None, None, -1}, {Broken, None, -1},
    };
    for (const Case& c : cases) {
        QTemporaryDir root;
        const QStringList folders = {root.filePath(QStringLiteral("beside")), root.filePath(QStringLiteral("library"))};
        for (int i = 0; i < 2; ++i) {
            const Content content = i == 0 ? c.beside : c.library;
            ASSERT_TRUE(QDir().mkpath(folders[i]));
            const QString file = QDir(folders[i]).filePath(QStringLiteral("qtbase_ru.qm"));
            if (content == Real) {
                ASSERT_TRUE(QFile::copy(real, file));
            } else if (content == Broken) {
                QFile broken(file);
                ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
                broken.write("not a translation");
            }
        }
        const QString expected =
            c.expected < 0 ? QString() : QDir(folders[c.expected]).filePath(QStringLiteral("qtbase_ru.qm"));
        EXPECT_EQ(qtl::InstallQtTranslation(folders).toStdString(), expected.toStdString())
            << c.beside << ", " << c.library;
    }
}

TEST(RussianDialogs, TheSaveDialogAsTheClassListOpensIt) {
    QTemporaryDir dir;
    const std::initializer_list<Shown> expected = {
        {"lookInLabel", "Перейти к:"},         {"fileNameLabel", "Имя файла:"},
        {"fileTypeLabel", "Типы файлов:"},     {"backButton", "Назад"},
        {"forwardButton", "Вперёд"},           {"toParentButton", "Родительский каталог"},
        {"newFolderButton", "Создать папку"},  {"listModeButton", "Список"},
        {"detailModeButton", "Подробный вид"},
    };
    ShownTexts seen;
    QStringList buttons, columns;
    whenModal<QFileDialog>([&](QFileDialog* dialog) {
        seen = readNames(dialog, expected);
        if (auto* box = dialog->findChild<QDialogButtonBox*>()) buttons = buttonTexts(box->buttons());
        if (auto* view = dialog->findChild<QTreeView*>())
            for (int i = 0; i < view->model()->columnCount(); ++i)
                columns << view->model()->headerData(i, Qt::Horizontal).toString();
    });
    qtl::FileDialogs::install(nullptr);
    const QString chosen = qtl::FileDialogs::instance().saveFileName(nullptr, QStringLiteral("Сохранить список в PDF"),
                                                                     dir.filePath(QStringLiteral("Список.pdf")),
                                                                     QStringLiteral("Документ PDF (*.pdf)"));
    EXPECT_TRUE(chosen.isEmpty()) << chosen.toStdString();
    expectShown(seen, expected);
    EXPECT_EQ(utf8(buttons), "Отмена | Сохранить");
    EXPECT_EQ(utf8(columns), "Имя | Размер | Тип | Дата изменения");
}

TEST(RussianDialogs, ThePrintDialogAsTheClassListOpensIt) {
    // The printer-dependent values (name, location, type) are left out: only Qt's own captions.
    const std::initializer_list<Shown> expected = {
        {"printerGroup", "Принтер"},
        {"properties", "Свойства"},
        {"lOutput", "Вывод в файл:"},
        {"gbPrintRange", "Диапазон печати"},
        {"printAll", "Все"},
        {"colorMode", "Режим цвета"},
        {"duplex", "Двусторонняя печать"},
        {"collate", "Разобрать по копиям"},
        {"reverse", "Обратный порядок"},
    };
    ShownTexts seen;
    QStringList buttons;
    whenModal<QPrintDialog>([&](QPrintDialog* dialog) {
        seen = readNames(dialog, expected);
        if (auto* box = dialog->findChild<QDialogButtonBox*>()) buttons = buttonTexts(box->buttons());
    });
    qtl::FileDialogs::install(nullptr);
    QPrinter printer(QPrinter::HighResolution);
    EXPECT_FALSE(qtl::FileDialogs::instance().setUpPrinter(nullptr, &printer, 2));
    expectShown(seen, expected);
    EXPECT_EQ(utf8(buttons), "Отмена | Параметры >> | Печать");
}

TEST(RussianDialogs, TheMessageBoxButtons) {
    struct Case {
        qtl::MbButtons buttons;
        const char* texts;
    } const cases[] = {
        {qtl::MbButtons::Ok, "OK"},
        {qtl::MbButtons::OkCancel, "OK | Отмена"},
        {qtl::MbButtons::YesNo, "Да | Нет"},
    };
    qtl::MessageBoxes::install(nullptr);
    for (const Case& c : cases) {
        QStringList texts;
        bool bareKeyAnswers = false;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            for (const QAbstractButton* b : box->buttons()) {
                texts << b->text();
                bareKeyAnswers |= !b->shortcut().isEmpty();
            }
        });
        qtl::MessageBoxes::ask(nullptr, QStringLiteral("Удалить?"), QStringLiteral("Внимание!!!"),
                               qtl::MbIcon::Question, c.buttons);
        EXPECT_EQ(utf8(sorted(texts)), c.texts);
        // A stray letter must not answer a question.
        EXPECT_FALSE(bareKeyAnswers) << utf8(texts);
    }
}

TEST(RussianDialogs, TheLoginEditsContextMenu) {
    qtl::TForm8 login;
    std::unique_ptr<QMenu> menu(login.Login_Edit->createStandardContextMenu());
    QStringList texts;
    for (const QAction* action : menu->actions())
        if (!action->isSeparator()) texts << onScreen(action->text());
    EXPECT_EQ(utf8(texts),
              "Отменить действие | Повторить действие | Вырезать | Копировать | Вставить | Удалить | Выделить всё");
}

}  // namespace
