#include "platform/Look.h"

#include <QDialog>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPen>
#include <QScreen>
#include <QWidget>

#include <initializer_list>

// Q_INIT_RESOURCE declares a function of the global namespace, so it cannot be used inside qtl.
static void initPictures() {
    Q_INIT_RESOURCE(resources);
}

namespace qtl {

void InitPictures() {
    static const bool done = (initPictures(), true);
    (void)done;
}

void InstallFontSubstitutes() {
#ifndef Q_OS_WIN
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Palatino Linotype"),
                               {QStringLiteral("P052"), QStringLiteral("DejaVu Serif")});
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
#endif
}

QFont WindowFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    return font;
}

QFont PalatinoBold(int pixelSize) {
    QFont font(QStringLiteral("Palatino Linotype"));
    font.setPixelSize(pixelSize);
    font.setBold(true);
    return font;
}

void SetTextColour(QWidget* widget, const QColor& colour) {
    QPalette p = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            p.setColor(group, role, colour);
    widget->setPalette(p);
}

void CentreOnScreen(QWidget* window) {
    if (QScreen* screen = window->screen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

void SetUpLookupWindow(QDialog* window) {
    window->setFont(WindowFont());
}

bool LookupWindowKeyPress(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape) return false;
    event->accept();
    return true;
}

QFrame* HeaderPanel(QWidget* parent, bool sunken) {
    auto* panel = new QFrame(parent);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, kHeaderColour);
    panel->setPalette(pal);
    if (sunken) panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return panel;
}

QLabel* NavyCaption(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setFont(PalatinoBold(13));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, kNavy);
    label->setPalette(pal);
    return label;
}

ColumnFitter::ColumnFitter(DbGrid* grid, QVector<int> widths)
    : QObject(grid), m_grid(grid), m_widths(std::move(widths)) {
    grid->viewport()->installEventFilter(this);
}

void ColumnFitter::fit() {
    int total = 0;
    for (int w : m_widths) total += w;
    const int avail = m_grid->viewport()->width();
    if (total <= 0 || avail <= 0) return;
    int used = 0;
    for (int i = 0; i < m_widths.size(); ++i) {
        // The last column takes the rounding remainder so the columns end at the grid's edge.
        const int w = i + 1 == m_widths.size() ? avail - used : m_widths[i] * avail / total;
        m_grid->setColumnWidth(i, w);
        used += w;
    }
}

bool ColumnFitter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) fit();
    return QObject::eventFilter(watched, event);
}

void DrawFocusFrame(QPainter* painter, const QRect& rect, const QColor& colour) {
    painter->save();
    QPen pen(colour);
    pen.setStyle(Qt::DotLine);
    pen.setCosmetic(true);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

namespace {

// Lies over the widget it frames, shown only while that widget has the focus.
class FocusFrameOverlay : public QWidget {
public:
    explicit FocusFrameOverlay(QWidget* target) : QWidget(target), m_target(target) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(target->rect());
        hide();
        target->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_target) {
            switch (event->type()) {
            case QEvent::FocusIn:
            case QEvent::FocusOut:
                setVisible(m_target->hasFocus());
                raise();
                break;
            case QEvent::Resize: setGeometry(m_target->rect()); break;
            default: break;
            }
        }
        return QWidget::eventFilter(watched, event);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        DrawFocusFrame(&painter, rect(), m_target->palette().color(QPalette::WindowText));
    }

private:
    QWidget* m_target;
};

}  // namespace

void FrameFocus(QWidget* widget) {
    new FocusFrameOverlay(widget);
}

}  // namespace qtl
