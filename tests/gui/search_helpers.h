// Helpers of the student lookup tests: typing into an edit, driving modal windows, and the
// exact search statement the workstation must send.
#pragma once

#include "platform/DbGrid.h"
#include "statements/Statements.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

namespace qtltest::lookup {

// Every statement reaches the server as its line followed by CR LF.
inline QString sent(const QString& statement) {
    return statement + QStringLiteral("\r\n");
}

inline QString searchStatement(const QString& likeText, const QString& login) {
    return QStringLiteral(
               "SELECT TOP (100) dbo.s_fio.id_student, dbo.s_fio.s_fio, dbo.[group].id_group, dbo.[group].p20, "
               "dbo.[group].id_faculty, T_user_fak.QTL_login FROM dbo.s_fio INNER JOIN dbo.movement_t ON "
               "dbo.s_fio.id_student = dbo.movement_t.id_student INNER JOIN dbo.[group] ON dbo.movement_t.id_group = "
               "dbo.[group].id_group INNER JOIN (SELECT dbo.QTL_User.id_QTL_user, dbo.QTL_User.QTL_login, "
               "dbo.user_faculty.faculty FROM dbo.QTL_User INNER JOIN dbo.user_faculty ON dbo.QTL_User.id_QTL_user = "
               "dbo.user_faculty.id_login WHERE (dbo.QTL_User.visible = 1)) AS T_user_fak ON dbo.[group].id_faculty = "
               "T_user_fak.faculty GROUP BY dbo.s_fio.id_student, dbo.s_fio.s_fio, dbo.[group].id_group, "
               "dbo.[group].p20, dbo.[group].id_faculty, T_user_fak.QTL_login HAVING (dbo.s_fio.s_fio LIKE '%") +
           likeText + QStringLiteral("%') AND (T_user_fak.QTL_login ='") + login +
           QStringLiteral("') ORDER BY dbo.s_fio.s_fio");
}

// The registrations window's list, as the program builds it.
inline QString registrationsStatement(const QString& studentId) {
    return qtl::statements::registrationsOf(studentId);
}

// Types text character by character as the keyboard would (Cyrillic included).
inline void typeText(QWidget* widget, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

inline QStringList startingWith(const QStringList& batches, const QString& head) {
    QStringList out;
    for (const QString& b : batches)
        if (b.startsWith(head)) out << b;
    return out;
}

// Runs `drive` once a modal window of type T is up (inside its exec()), then closes it. A
// window that never appears fails the test instead of hanging it.
template <class T>
void whenModal(std::function<void(T*)> drive, int timeoutMs = 15000) {
    auto* timer = new QTimer;
    auto* waited = new int(0);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, waited, drive, timeoutMs] {
        if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            delete waited;
            drive(window);
            window->close();
            return;
        }
        *waited += 10;
        if (*waited > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            delete waited;
            ADD_FAILURE() << "modal window did not appear";
            if (QWidget* other = QApplication::activeModalWidget()) other->close();
        }
    });
    timer->start();
}

inline void doubleClickRow(qtl::DbGrid* grid, int row) {
    const QRect cell = grid->visualRect(grid->model()->index(row < 0 ? 0 : row, 0));
    const QPoint at = row < 0 || cell.isEmpty() ? QPoint(20, grid->viewport()->height() - 10) : cell.center();
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

}  // namespace qtltest::lookup
