#include "util/ClassList.h"

#include <QBuffer>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>

#include <algorithm>

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
    const bool quote = text.contains(QLatin1Char(';')) || text.contains(QLatin1Char('"')) ||
                       text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
    if (!quote) return text;
    QString doubled = text;
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

QVector<int> paginateRows(const QVector<double>& heights, const QVector<bool>& keepWithNext,
                          const QVector<bool>& continues, double pageHeight, double continuationHeight) {
    const int n = int(heights.size());
    QVector<int> starts;
    int i = 0;
    while (i < n) {
        const int start = i;
        starts << start;
        double used = continues.value(i) ? continuationHeight : 0;
        while (i < n) {
            // The run of rows that must stay together.
            int last = i;
            double run = heights[i];
            while (keepWithNext.value(last) && last + 1 < n) run += heights[++last];
            if (used + run <= pageHeight) {
                used += run;
                i = last + 1;
                continue;
            }
            if (i > start) break;  // the run starts the next page
            // A run taller than a whole page cannot stay together: take what fits, at least
            // one row, so the document always ends.
            do {
                used += heights[i];
                ++i;
            } while (i <= last && used + heights[i] <= pageHeight);
            break;
        }
    }
    if (starts.isEmpty()) starts << 0;
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

}  // namespace

int paintClassList(QPagedPaintDevice* device, const ClassList& list) {
    QPainter p;
    if (!p.begin(device)) return 0;
    const double dpi = device->logicalDpiY();
    const auto mm = [dpi](double v) { return v * dpi / 25.4; };
    const double width = device->width();
    const double height = device->height();

    const QFont titleFont = documentFont(13, true);
    const QFont headerFont = documentFont(10);
    const QFont boldFont = documentFont(10, true);
    const QFont totalFont = documentFont(10, false, true);
    const QFont footFont = documentFont(8);
    const int wrap = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    const auto measure = [&p](const QFont& font, double w, const QString& text, int flags) {
        p.setFont(font);
        return p.boundingRect(QRectF(0, 0, w, 1e9), flags, text).height();
    };

    // Columns: the number, the group as wide as its longest text (at most a quarter of the
    // page), the name takes the rest.
    const double gap = mm(2);
    p.setFont(headerFont);
    const double numberWidth = p.boundingRect(QRectF(), 0, QStringLiteral("0000")).width();
    double groupWidth = p.boundingRect(QRectF(), 0, QStringLiteral("Группа")).width();
    for (const ClassListStream& s : list.streams)
        for (const ClassListStudent& st : s.students)
            groupWidth = std::max(groupWidth, p.boundingRect(QRectF(), 0, st.group).width());
    groupWidth = std::min(groupWidth + gap, width / 4);
    const double nameLeft = numberWidth + gap;
    const double groupLeft = width - groupWidth;
    const double nameWidth = std::max(mm(20), groupLeft - gap - nameLeft);

    // The block repeated on every page: title, header lines, column titles.
    const QStringList headerLines = classListHeaderLines(list.header);
    double headerHeight = measure(titleFont, width, classListTitle(), wrap) + mm(2);
    for (const QString& line : headerLines) headerHeight += measure(headerFont, width, line, wrap);
    const double columnTitleTop = headerHeight + mm(3);
    const double columnTitleHeight = measure(boldFont, width, QStringLiteral("№"), wrap) + mm(1);
    const double bodyTop = columnTitleTop + columnTitleHeight + mm(1);
    const double footHeight = measure(footFont, width, pageNumberText(1, 1), wrap) + mm(3);
    const double bodyHeight = std::max(mm(20), height - bodyTop - footHeight);

    const QVector<BodyRow> rows = bodyRows(list);
    QVector<double> heights;
    QVector<bool> keep, continues;
    for (int i = 0; i < rows.size(); ++i) {
        const BodyRow& r = rows[i];
        double h = 0;
        switch (r.kind) {
        case BodyRow::Kind::Student:
            h = std::max({measure(headerFont, nameWidth, r.name, wrap), measure(headerFont, groupWidth, r.group, wrap),
                          measure(headerFont, numberWidth, r.number, wrap)}) +
                mm(0.8);
            break;
        case BodyRow::Kind::StreamTitle: h = mm(2) + measure(boldFont, width, r.name, wrap) + mm(0.8); break;
        case BodyRow::Kind::StreamTotal: h = measure(totalFont, width, r.name, wrap) + mm(0.8); break;
        case BodyRow::Kind::GrandTotal:
        case BodyRow::Kind::Empty: h = mm(3) + measure(boldFont, width, r.name, wrap); break;
        }
        heights << h;
        // A stream's title never ends a page, and its total never starts one alone.
        const bool lastStudent =
            r.kind == BodyRow::Kind::Student && i + 1 < rows.size() && rows[i + 1].kind == BodyRow::Kind::StreamTotal;
        keep << (r.kind == BodyRow::Kind::StreamTitle || lastStudent);
        continues << (r.kind == BodyRow::Kind::Student || r.kind == BodyRow::Kind::StreamTotal);
    }
    const double continuationHeight =
        mm(2) + measure(boldFont, width, streamTitle(QStringLiteral("0")) + QStringLiteral(" (продолжение)"), wrap) +
        mm(0.8);
    const QVector<int> starts = paginateRows(heights, keep, continues, bodyHeight, continuationHeight);
    const int pages = int(starts.size());

    for (int page = 0; page < pages; ++page) {
        if (page > 0 && !device->newPage()) break;
        double y = 0;
        p.setPen(Qt::black);
        p.setFont(titleFont);
        QRectF drawn;
        p.drawText(QRectF(0, y, width, 1e6), wrap, classListTitle(), &drawn);
        y += drawn.height() + mm(2);
        p.setFont(headerFont);
        for (const QString& line : headerLines) {
            p.drawText(QRectF(0, y, width, 1e6), wrap, line, &drawn);
            y += drawn.height();
        }
        y = columnTitleTop;
        p.setFont(boldFont);
        p.drawText(QRectF(0, y, numberWidth, columnTitleHeight), wrap, QStringLiteral("№"));
        p.drawText(QRectF(nameLeft, y, nameWidth, columnTitleHeight), wrap, QStringLiteral("ФИО студента"));
        p.drawText(QRectF(groupLeft, y, groupWidth, columnTitleHeight), wrap, QStringLiteral("Группа"));
        p.drawLine(QPointF(0, y + columnTitleHeight), QPointF(width, y + columnTitleHeight));

        y = bodyTop;
        const int first = starts[page];
        const int end = page + 1 < pages ? starts[page + 1] : int(rows.size());
        if (first < rows.size() && continues[first]) {
            p.setFont(boldFont);
            const QString title =
                streamTitle(list.streams[rows[first].stream].stream) + QStringLiteral(" (продолжение)");
            p.drawText(QRectF(0, y + mm(2), width, continuationHeight), wrap, title);
            y += continuationHeight;
        }
        for (int i = first; i < end; ++i) {
            const BodyRow& r = rows[i];
            switch (r.kind) {
            case BodyRow::Kind::Student:
                p.setFont(headerFont);
                p.drawText(QRectF(0, y, numberWidth, heights[i]), Qt::AlignRight | Qt::AlignTop, r.number);
                p.drawText(QRectF(nameLeft, y, nameWidth, heights[i]), wrap, r.name);
                p.drawText(QRectF(groupLeft, y, groupWidth, heights[i]), wrap, r.group);
                break;
            case BodyRow::Kind::StreamTitle:
                p.setFont(boldFont);
                p.drawText(QRectF(0, y + mm(2), width, heights[i]), wrap, r.name);
                break;
            case BodyRow::Kind::StreamTotal:
                p.setFont(totalFont);
                p.drawText(QRectF(nameLeft, y, width - nameLeft, heights[i]), wrap, r.name);
                break;
            case BodyRow::Kind::GrandTotal:
            case BodyRow::Kind::Empty:
                p.setFont(boldFont);
                p.drawText(QRectF(0, y + mm(3), width, heights[i]), wrap, r.name);
                break;
            }
            y += heights[i];
        }

        p.setFont(footFont);
        p.drawText(QRectF(0, height - footHeight + mm(3), width, footHeight - mm(3)), Qt::AlignHCenter | Qt::AlignTop,
                   pageNumberText(page + 1, pages));
    }
    p.end();
    return pages;
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
