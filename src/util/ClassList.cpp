#include "util/ClassList.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <utility>

namespace qtl {

void ClassList::addStudent(const QString& stream, const QString& name, const QString& group) {
    if (streams.isEmpty() || streams.last().stream != stream) streams.append(ClassListStream{stream, {}});
    streams.last().students.append(ClassListStudent{name, group});
}

int ClassList::total() const {
    int n = 0;
    for (const ClassListStream& s : streams) n += int(s.students.size());
    return n;
}

QString ClassList::onlyGroup() const {
    QString group;
    bool first = true;
    for (const ClassListStream& s : streams)
        for (const ClassListStudent& student : s.students) {
            if (!first && student.group != group) return {};
            group = student.group;
            first = false;
        }
    return group;
}

// ------------------------------------------------------------------------------------------
// Texts

QStringList classListHeaderLines(const ClassListHeader& h) {
    QString discipline = h.discipline;
    if (!h.credits.isEmpty()) discipline += QStringLiteral(" (кредитов: ") + h.credits + QLatin1Char(')');
    return {
        QStringLiteral("Факультет: ") + h.faculty,
        QStringLiteral("Учебный год: ") + h.year,
        QStringLiteral("Кафедра: ") + h.department,
        QStringLiteral("Преподаватель: ") + h.teacher,
        QStringLiteral("Семестр: ") + h.termKind,
        QStringLiteral("Дисциплина: ") + discipline,
        QStringLiteral("Форма контроля: ") + h.examination,
        QStringLiteral("Дата: ") + h.date.toString(QStringLiteral("dd.MM.yyyy")),
        QStringLiteral("Оператор: ") + h.login,
    };
}

QString classListTitle() {
    return QStringLiteral("Список студентов по потокам");
}

QString streamTitle(const QString& stream) {
    return stream.isEmpty() ? QStringLiteral("Без потока") : QStringLiteral("Поток ") + stream;
}

QString streamTotalText(int count) {
    return QStringLiteral("Всего в потоке: ") + QString::number(count);
}

QString grandTotalText(int count) {
    return QStringLiteral("Всего студентов: ") + QString::number(count);
}

QString emptyListText() {
    return QStringLiteral("Список пуст: на дисциплину не зарегистрирован ни один студент.");
}

QString pageNumberText(int page, int pages) {
    return QStringLiteral("Страница ") + QString::number(page) + QStringLiteral(" из ") + QString::number(pages);
}

// ------------------------------------------------------------------------------------------
// CSV

QString csvField(const QString& text) {
    // Spreadsheets run a cell that begins with one of these as a formula; the quote makes it text.
    const bool formula = !text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text.front());
    const bool quote = formula || text.contains(QLatin1Char(';')) || text.contains(QLatin1Char('"')) ||
                       text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
    if (!quote) return text;
    QString doubled = formula ? QLatin1Char('\'') + text : text;
    doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QByteArray classListCsv(const ClassList& list) {
    const QString separator = QStringLiteral(";");
    const QString rowEnd = QStringLiteral("\r\n");
    QString text =
        QStringList{QStringLiteral("Поток"), QStringLiteral("№"), QStringLiteral("ФИО"), QStringLiteral("Группа")}.join(
            separator) +
        rowEnd;
    for (const ClassListStream& stream : list.streams) {
        int number = 0;
        for (const ClassListStudent& student : stream.students)
            text += QStringList{csvField(stream.stream), QString::number(++number), csvField(student.name),
                                csvField(student.group)}
                        .join(separator) +
                    rowEnd;
    }
    // The mark tells spreadsheet programs the file is UTF-8; without it they read the names in
    // the system's code page.
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

// ------------------------------------------------------------------------------------------
// File names

namespace {

QString fileNamePart(const QString& text) {
    QString out;
    for (QChar c : text) {
        const bool forbidden =
            c.unicode() < 0x20 || c.unicode() == 0x7F || QStringLiteral("/\\:*?\"<>|").contains(c) || c.isSpace();
        out += forbidden ? QLatin1Char('_') : c;
    }
    static const QRegularExpression runs(QStringLiteral("_+"));
    out.replace(runs, QStringLiteral("_"));
    // Long discipline names would make paths some systems refuse.
    out = out.left(80);
    while (!out.isEmpty() && (out.endsWith(QLatin1Char('_')) || out.endsWith(QLatin1Char('.')))) out.chop(1);
    while (!out.isEmpty() && (out.startsWith(QLatin1Char('_')) || out.startsWith(QLatin1Char('.')))) out.remove(0, 1);
    return out;
}

}  // namespace

QString proposedFileName(const QString& discipline, const QString& group, const QDate& date, const QString& suffix) {
    QStringList parts{QStringLiteral("Список")};
    for (const QString& part : {fileNamePart(discipline), fileNamePart(group),
                                date.isValid() ? date.toString(QStringLiteral("yyyy-MM-dd")) : QString()})
        if (!part.isEmpty()) parts << part;
    return parts.join(QLatin1Char('_')) + QLatin1Char('.') + suffix;
}

QString withSuffix(const QString& path, const QString& suffix) {
    const QString dotted = QLatin1Char('.') + suffix;
    return path.endsWith(dotted, Qt::CaseInsensitive) ? path : path + dotted;
}

// ------------------------------------------------------------------------------------------
// Pages

namespace {

// Lays the text out in lines of `width`, breaking inside a word only where the word alone is
// wider than a line; returns the height the lines take.
double layOut(QTextLayout& layout, double width, Qt::Alignment align = Qt::AlignLeft) {
    QTextOption option(align);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    double y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLeadingIncluded(true);
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return y;
}

double textHeight(QPaintDevice* device, const QFont& font, double width, const QString& text) {
    QTextLayout layout(text, font, device);
    return layOut(layout, width);
}

void drawText(QPainter& p, const QRectF& box, const QFont& font, const QString& text,
              Qt::Alignment align = Qt::AlignLeft) {
    QTextLayout layout(text, font, p.device());
    layOut(layout, box.width(), align);
    layout.draw(&p, box.topLeft());
}

// The run of rows from `first` that must stay on one page, and its height.
std::pair<int, double> keptRun(const QVector<double>& heights, const QVector<bool>& keepWithNext, int first) {
    int last = first;
    double run = heights[first];
    while (keepWithNext.value(last) && last + 1 < heights.size()) run += heights[++last];
    return {last, run};
}

}  // namespace

QStringList wrapText(const QString& text, const QFont& font, double width, QPaintDevice* device) {
    QTextLayout layout(text, font, device);
    layOut(layout, width);
    QStringList lines;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        lines << text.mid(line.textStart(), line.textLength());
    }
    return lines;
}

QVector<int> paginateRows(const QVector<double>& heights, const QVector<bool>& keepWithNext,
                          const QVector<bool>& continues, double pageHeight, double continuationHeight,
                          QVector<bool>* headed) {
    const int n = int(heights.size());
    QVector<int> starts;
    QVector<bool> titled;
    int i = 0;
    while (i < n) {
        const int start = i;
        starts << start;
        titled << continues.value(i);
        double used = titled.last() ? continuationHeight : 0;
        while (i < n) {
            const auto [last, run] = keptRun(heights, keepWithNext, i);
            if (used + run <= pageHeight) {
                used += run;
                i = last + 1;
                continue;
            }
            if (i > start) break;  // the run starts the next page
            // A first row that fits the page only without the repeated title goes without it:
            // every later page would have the same problem, and the foot must stay clear.
            if (titled.last() && used + heights[i] > pageHeight && heights[i] <= pageHeight) {
                titled.last() = false;
                used = 0;
                continue;
            }
            // A run taller than a whole page cannot stay together: take what fits, at least
            // one row, so the document always ends.
            do {
                used += heights[i];
                ++i;
            } while (i <= last && used + heights[i] <= pageHeight);
            break;
        }
    }
    if (starts.isEmpty()) {
        starts << 0;
        titled << false;
    }
    if (headed) *headed = titled;
    return starts;
}

namespace {

QFont documentFont(double points, bool bold = false, bool italic = false) {
    QFont f;
    // Fonts that carry Cyrillic on every system the program runs on; the first one found wins.
    f.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

struct BodyRow {
    enum class Kind { StreamTitle, Student, StreamTotal, GrandTotal, Empty };
    Kind kind;
    int stream = -1;
    QString number, name, group;  // Student; `name` holds the text of the other kinds
};

QVector<BodyRow> bodyRows(const ClassList& list) {
    QVector<BodyRow> rows;
    for (int s = 0; s < list.streams.size(); ++s) {
        const ClassListStream& stream = list.streams[s];
        rows << BodyRow{BodyRow::Kind::StreamTitle, s, {}, streamTitle(stream.stream), {}};
        int number = 0;
        for (const ClassListStudent& student : stream.students)
            rows << BodyRow{BodyRow::Kind::Student, s, QString::number(++number), student.name, student.group};
        rows << BodyRow{BodyRow::Kind::StreamTotal, s, {}, streamTotalText(int(stream.students.size())), {}};
    }
    if (list.isEmpty()) rows << BodyRow{BodyRow::Kind::Empty, -1, {}, emptyListText(), {}};
    rows << BodyRow{BodyRow::Kind::GrandTotal, -1, {}, grandTotalText(list.total()), {}};
    return rows;
}

struct Fonts {
    QFont title = documentFont(13, true);
    QFont body = documentFont(10);
    QFont bold = documentFont(10, true);
    QFont total = documentFont(10, false, true);
    QFont foot = documentFont(8);
};

// Everything measured before a page is painted, so counting the pages and painting them agree.
struct PagePlan {
    QPaintDevice* device = nullptr;
    Fonts fonts;
    double dpi = 72, width = 0, height = 0;
    QStringList headerLines;
    double numberWidth = 0, nameLeft = 0, nameWidth = 0, groupLeft = 0, groupWidth = 0;
    double columnTitleTop = 0, columnTitleHeight = 0, bodyTop = 0, footHeight = 0, bodyHeight = 0;
    double continuationHeight = 0;
    QVector<BodyRow> rows;
    QVector<double> heights;
    QVector<bool> continues;
    QVector<int> starts;  // the first row of every page
    QVector<bool> headed;  // whether the page repeats the title of the stream it continues

    double mm(double v) const { return v * dpi / 25.4; }
    double measure(const QFont& font, double w, const QString& text) const { return textHeight(device, font, w, text); }
    int pages() const { return int(starts.size()); }
};

// Columns: the number, the group as wide as its longest text (at most a quarter of the page),
// the name takes the rest.
void planColumns(PagePlan& plan, const ClassList& list) {
    const QFontMetricsF metrics(plan.fonts.body, plan.device);
    const double gap = plan.mm(2);
    plan.numberWidth = metrics.horizontalAdvance(QStringLiteral("0000"));
    double groupWidth = metrics.horizontalAdvance(QStringLiteral("Группа"));
    for (const ClassListStream& s : list.streams)
        for (const ClassListStudent& st : s.students)
            groupWidth = std::max(groupWidth, metrics.horizontalAdvance(st.group));
    plan.groupWidth = std::min(groupWidth + gap, plan.width / 4);
    plan.nameLeft = plan.numberWidth + gap;
    plan.groupLeft = plan.width - plan.groupWidth;
    plan.nameWidth = std::max(plan.mm(20), plan.groupLeft - gap - plan.nameLeft);
}

// The block repeated on every page (title, header lines, column titles) and the foot.
void planFrame(PagePlan& plan, const ClassList& list) {
    const Fonts& f = plan.fonts;
    plan.headerLines = classListHeaderLines(list.header);
    double headerHeight = plan.measure(f.title, plan.width, classListTitle()) + plan.mm(2);
    for (const QString& line : plan.headerLines) headerHeight += plan.measure(f.body, plan.width, line);
    plan.columnTitleTop = headerHeight + plan.mm(3);
    plan.columnTitleHeight = plan.measure(f.bold, plan.width, QStringLiteral("№")) + plan.mm(1);
    plan.bodyTop = plan.columnTitleTop + plan.columnTitleHeight + plan.mm(1);
    plan.footHeight = plan.measure(f.foot, plan.width, pageNumberText(1, 1)) + plan.mm(3);
    plan.bodyHeight = std::max(plan.mm(20), plan.height - plan.bodyTop - plan.footHeight);
    plan.continuationHeight =
        plan.mm(2) +
        plan.measure(f.bold, plan.width, streamTitle(QStringLiteral("0")) + QStringLiteral(" (продолжение)")) +
        plan.mm(0.8);
}

double rowHeight(const PagePlan& plan, const BodyRow& r) {
    const Fonts& f = plan.fonts;
    switch (r.kind) {
    case BodyRow::Kind::Student:
        return std::max({plan.measure(f.body, plan.nameWidth, r.name), plan.measure(f.body, plan.groupWidth, r.group),
                         plan.measure(f.body, plan.numberWidth, r.number)}) +
               plan.mm(0.8);
    case BodyRow::Kind::StreamTitle: return plan.mm(2) + plan.measure(f.bold, plan.width, r.name) + plan.mm(0.8);
    case BodyRow::Kind::StreamTotal: return plan.measure(f.total, plan.width - plan.nameLeft, r.name) + plan.mm(0.8);
    case BodyRow::Kind::GrandTotal:
    case BodyRow::Kind::Empty: return plan.mm(3) + plan.measure(f.bold, plan.width, r.name);
    }
    return 0;
}

void planRows(PagePlan& plan, const ClassList& list) {
    plan.rows = bodyRows(list);
    QVector<bool> keep;
    for (int i = 0; i < plan.rows.size(); ++i) {
        const BodyRow& r = plan.rows[i];
        plan.heights << rowHeight(plan, r);
        // A stream's title never ends a page, and its total never starts one alone.
        const bool lastStudent = r.kind == BodyRow::Kind::Student && i + 1 < plan.rows.size() &&
                                 plan.rows[i + 1].kind == BodyRow::Kind::StreamTotal;
        keep << (r.kind == BodyRow::Kind::StreamTitle || lastStudent);
        plan.continues << (r.kind == BodyRow::Kind::Student || r.kind == BodyRow::Kind::StreamTotal);
    }
    plan.starts =
        paginateRows(plan.heights, keep, plan.continues, plan.bodyHeight, plan.continuationHeight, &plan.headed);
}

PagePlan planPages(QPagedPaintDevice* device, const ClassList& list) {
    PagePlan plan;
    plan.device = device;
    plan.dpi = device->logicalDpiY();
    plan.width = device->width();
    plan.height = device->height();
    planColumns(plan, list);
    planFrame(plan, list);
    planRows(plan, list);
    return plan;
}

void paintFrame(QPainter& p, const PagePlan& plan, int page) {
    const Fonts& f = plan.fonts;
    double y = 0;
    drawText(p, QRectF(0, y, plan.width, 0), f.title, classListTitle());
    y += plan.measure(f.title, plan.width, classListTitle()) + plan.mm(2);
    for (const QString& line : plan.headerLines) {
        drawText(p, QRectF(0, y, plan.width, 0), f.body, line);
        y += plan.measure(f.body, plan.width, line);
    }
    y = plan.columnTitleTop;
    drawText(p, QRectF(0, y, plan.numberWidth, 0), f.bold, QStringLiteral("№"));
    drawText(p, QRectF(plan.nameLeft, y, plan.nameWidth, 0), f.bold, QStringLiteral("ФИО студента"));
    drawText(p, QRectF(plan.groupLeft, y, plan.groupWidth, 0), f.bold, QStringLiteral("Группа"));
    p.drawLine(QPointF(0, y + plan.columnTitleHeight), QPointF(plan.width, y + plan.columnTitleHeight));
    drawText(p, QRectF(0, plan.height - plan.footHeight + plan.mm(3), plan.width, 0), f.foot,
             pageNumberText(page + 1, plan.pages()), Qt::AlignHCenter);
}

void paintRow(QPainter& p, const PagePlan& plan, const BodyRow& r, double y) {
    const Fonts& f = plan.fonts;
    switch (r.kind) {
    case BodyRow::Kind::Student:
        drawText(p, QRectF(0, y, plan.numberWidth, 0), f.body, r.number, Qt::AlignRight);
        drawText(p, QRectF(plan.nameLeft, y, plan.nameWidth, 0), f.body, r.name);
        drawText(p, QRectF(plan.groupLeft, y, plan.groupWidth, 0), f.body, r.group);
        break;
    case BodyRow::Kind::StreamTitle: drawText(p, QRectF(0, y + plan.mm(2), plan.width, 0), f.bold, r.name); break;
    case BodyRow::Kind::StreamTotal:
        drawText(p, QRectF(plan.nameLeft, y, plan.width - plan.nameLeft, 0), f.total, r.name);
        break;
    case BodyRow::Kind::GrandTotal:
    case BodyRow::Kind::Empty: drawText(p, QRectF(0, y + plan.mm(3), plan.width, 0), f.bold, r.name); break;
    }
}

void paintPage(QPainter& p, const PagePlan& plan, const ClassList& list, int page) {
    p.setPen(Qt::black);
    paintFrame(p, plan, page);
    double y = plan.bodyTop;
    const int first = plan.starts[page];
    const int end = page + 1 < plan.pages() ? plan.starts[page + 1] : int(plan.rows.size());
    if (first < plan.rows.size() && plan.headed.value(page)) {
        const QString title =
            streamTitle(list.streams[plan.rows[first].stream].stream) + QStringLiteral(" (продолжение)");
        drawText(p, QRectF(0, y + plan.mm(2), plan.width, 0), plan.fonts.bold, title);
        y += plan.continuationHeight;
    }
    for (int i = first; i < end; ++i) {
        paintRow(p, plan, plan.rows[i], y);
        y += plan.heights[i];
    }
}

}  // namespace

int classListPageCount(QPagedPaintDevice* device, const ClassList& list) {
    return planPages(device, list).pages();
}

int paintClassList(QPagedPaintDevice* device, const ClassList& list, const QPageRanges& pages) {
    const PagePlan plan = planPages(device, list);
    QVector<int> chosen;
    for (int page = 0; page < plan.pages(); ++page)
        if (pages.isEmpty() || pages.contains(page + 1)) chosen << page;
    // Nothing to print must not start a job: a printer would put out a blank sheet.
    if (chosen.isEmpty()) return 0;
    QPainter p;
    if (!p.begin(device)) return 0;
    int painted = 0;
    for (int page : chosen) {
        if (painted > 0 && !device->newPage()) break;
        paintPage(p, plan, list, page);
        ++painted;
    }
    p.end();
    return painted;
}

QByteArray classListPdf(const ClassList& list) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 15, 15, 15),
                                         QPageLayout::Millimeter));
        writer.setResolution(300);
        writer.setTitle(classListTitle() + QStringLiteral(": ") + list.header.discipline);
        writer.setCreator(QStringLiteral("QTL 33"));
        if (paintClassList(&writer, list) == 0) return {};
    }
    return buffer.data();
}

}  // namespace qtl
