#include "Unit5.h"

#include "dm_u.h"
#include "platform/Accessibility.h"
#include "platform/Guard.h"
#include "platform/MessageBoxes.h"
#include "statements/Statements.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace qtl {

namespace {

// The first column of a picture that holds anything opaque (0 when none does).
int firstOpaqueColumn(const QImage& image) {
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (qAlpha(image.pixel(x, y)) != 0) return x;
    return 0;
}

// A button whose glyph and caption sit in its middle as the eye sees them. The style centres
// the advance widths of the two, and the transparent edge of the glyph and the blank after the
// last letter put the ink of the wide button 3 pixels left of its middle.
class CentredButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        painter.drawControl(QStyle::CE_PushButtonBevel, option);

        const QPixmap glyph = icon().pixmap(iconSize(), isEnabled() ? QIcon::Normal : QIcon::Disabled);
        const QSize glyphSize = glyph.deviceIndependentSize().toSize();
        const int glyphFirst = firstOpaqueColumn(glyph.toImage().scaled(glyphSize));
        const QRect ink = fontMetrics().tightBoundingRect(text());
        const int gap = glyph.isNull() ? 0 : kGlyphGap;
        const int glyphWidth = glyph.isNull() ? 0 : glyphSize.width();
        // Ink spans [left + glyphFirst, left + glyphWidth + gap + ink.right()] (no glyph: from ink.left()).
        const int inkStart = glyph.isNull() ? ink.left() : glyphFirst;
        const int inkEnd = glyphWidth + gap + ink.right();
        const int left = (width() - 1 - inkEnd - inkStart) / 2;
        const int middle = height() / 2;
        if (!glyph.isNull()) painter.drawPixmap(left, middle - glyphSize.height() / 2, glyph);
        const QRect textRect(left + glyphWidth + gap, 0, width() - (left + glyphWidth + gap), height());
        style()->drawItemText(&painter, textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, palette(),
                              isEnabled(), text(), QPalette::ButtonText);
        if (hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
            painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
        }
    }

private:
    static constexpr int kGlyphGap = 4;  // what the style puts between glyph and caption
};

// The bottom buttons share one look: light face, dark blue frame, lighter under the mouse.
QPushButton* flatButton(QWidget* parent, const QString& caption, const QString& glyph, const QString& textColour) {
    auto* button = new CentredButton(QIcon(glyph), caption, parent);
    button->setCursor(Qt::PointingHandCursor);
    // A dialog presses its default button on Enter; here Enter belongs to the grid, and only a
    // click (or Space on the focused button) presses a button.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setStyleSheet(
        QStringLiteral("QPushButton { background-color: rgb(244, 244, 240); border: 1px solid rgb(0, 60, 116);"
                       " font-weight: bold; color: %1; padding: 2px 6px; }"
                       "QPushButton:hover { background-color: rgb(255, 255, 255); border-color: rgb(0, 90, 170); }"
                       "QPushButton:disabled { color: gray; }")
            .arg(textColour));
    return button;
}

}  // namespace

const QColor TForm5::kAlternateRow(224, 231, 252);

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
    InitPictures();
    SetUpLookupWindow(this);
    setWindowTitle(QStringLiteral("Окно регистрации студента"));
    buildLayout();
    connect(DM_MB->ADOQ_SGM, &Query::currentChanged, this, [this] { refreshName(); });
    connect(DM_MB->ADOQ_SGM, &Query::opened, this, [this] { refreshName(); });
    connect(DM_MB->ADOQ_SGM, &Query::closed, this, [this] { refreshName(); });
    refreshName();
    onEvent(RzBitBtn1, &QPushButton::clicked, this, [this] { RzBitBtn1Click(); });
    onEvent(RzBitBtn2, &QPushButton::clicked, this, [this] { RzBitBtn2Click(); });
    setUpAssistiveAccess();
    // A failed load still opens the window, with an empty list.
    guarded(this, [this] { FormCreate(); });
}

void TForm5::buildLayout() {
    resize(810, 791);

    Panel1 = HeaderPanel(this, false);
    Panel1->setFixedHeight(36);
    Panel4 = HeaderPanel(Panel1, true);
    Panel4->setGeometry(4, 4, 119, 27);
    Label5 = NavyCaption(Panel4, QStringLiteral(" Ф.И.О. студента:"));
    Label5->setGeometry(2, 2, 115, 23);
    Panel5 = HeaderPanel(Panel1, true);
    Panel5->setGeometry(127, 4, 678, 27);
    DBText1 = NavyCaption(Panel5, QString());
    DBText1->setGeometry(4, 2, 670, 23);

    DBGridEh1 = new DbGrid(this);
    DBGridEh1->setFrameShape(QFrame::NoFrame);  // flat look
    DBGridEh1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGridEh1->bind(DM_MB->DS_V_DFS, {{QStringLiteral("p43"), QStringLiteral("Семестр"), 80},
                                      {QStringLiteral("p34"), QStringLiteral("Дисциплина"), 300},
                                      {QStringLiteral("kredits"), QStringLiteral("Кредит"), 50, Qt::AlignCenter},
                                      {QStringLiteral("subgroup"), QStringLiteral("Поток"), 50, Qt::AlignCenter},
                                      {QStringLiteral("p30"), QStringLiteral("Контроль"), 100},
                                      {QStringLiteral("s_t_fio"), QStringLiteral("Преподаватель"), 130}});
    DBGridEh1->setTitleFont(PalatinoBold(13), kNavy);
    // Long discipline and teacher names wrap onto a second line.
    DBGridEh1->setWordWrap(true);
    DBGridEh1->setRowHeight(2 * DBGridEh1->fontMetrics().lineSpacing() + 4);
    DBGridEh1->setAlternateRowColor(kAlternateRow);
    (new ColumnFitter(DBGridEh1, {80, 300, 50, 50, 100, 130}))->fit();

    Panel3 = new QFrame(this);
    Panel3->setFixedHeight(31);
    RzBitBtn2 =
        flatButton(Panel3, QStringLiteral("Закрыть"), QStringLiteral(":/door_exit.png"), QStringLiteral("black"));
    RzBitBtn2->setFixedWidth(88);
    RzBitBtn1 = flatButton(Panel3, QStringLiteral("Удалить регистрацию"), QStringLiteral(":/red_cross.png"),
                           QStringLiteral("maroon"));
    RzBitBtn1->setFixedWidth(177);
    auto* buttons = new QHBoxLayout(Panel3);
    buttons->setContentsMargins(2, 2, 2, 2);
    buttons->addWidget(RzBitBtn2);
    buttons->addStretch(1);
    buttons->addWidget(RzBitBtn1);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(Panel1);
    column->addWidget(DBGridEh1, 1);
    column->addWidget(Panel3);
}

void TForm5::refreshName() {
    DBText1->setText(DM_MB->ADOQ_SGM->fieldAsString(QStringLiteral("s_fio")));
}

void TForm5::FormCreate() {
    Query* list = DM_MB->ADOQ_V_DFS;
    list->close();
    list->setSql(statements::registrationsOf(DM_MB->ADOQ_SGM->fieldAsString(QStringLiteral("id_student"))));
    list->open();
}

void TForm5::RzBitBtn1Click() {
    if (MessageBoxes::ask(this, QStringLiteral("Вы действительно хотите удалить строку "),
                          QStringLiteral("Внимание!!!"), MbIcon::Warning, MbButtons::OkCancel) != MbResult::Ok)
        return;
    Query* temp = DM_MB->ADOQ_TEMP;
    Query* list = DM_MB->ADOQ_V_DFS;
    temp->close();
    temp->setSql(statements::registrationRow(list->fieldAsString(QStringLiteral("id_disciplineForStudent"))));
    temp->open();
    // A row deleted meanwhile leaves the result empty and this throws before "Удалено ".
    temp->deleteCurrentRow();
    MessageBoxes::ask(this, QStringLiteral("Удалено "), QString(), MbIcon::None, MbButtons::Ok);
    list->close();
    list->open();
}

void TForm5::RzBitBtn2Click() {
    close();
}

void TForm5::showEvent(QShowEvent* event) {
    CentreOnScreen(this);
    QDialog::showEvent(event);
}

void TForm5::keyPressEvent(QKeyEvent* event) {
    if (!LookupWindowKeyPress(event)) QDialog::keyPressEvent(event);
}

// ---- assistive technology and the keyboard

void TForm5::setUpAssistiveAccess() {
    DBGridEh1->setAccessibleName(QStringLiteral("Регистрации студента"));
    // Enter stays out of the grid (see flatButton); on a focused button it presses that button.
    PressFocusedButtonsOnEnter(this);
}

}  // namespace qtl
