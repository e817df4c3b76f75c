// The class list a teacher takes to his lessons: the chosen class's header and its students
// stream by stream, as a paged document (print, PDF) and as CSV. Nothing here knows windows or
// the database: the main window reads the rows, this module only lays them out.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QPageRanges>
#include <QString>
#include <QStringList>
#include <QVector>

class QFont;
class QPagedPaintDevice;
class QPaintDevice;

namespace qtl {

// What the header of every page says about the class.
struct ClassListHeader {
    QString faculty;
    QString year;
    QString department;
    QString teacher;
    QString termKind;
    QString discipline;
    QString credits;
    QString examination;
    QDate date;
    QString login;
};

struct ClassListStudent {
    QString name;
    QString group;
};

struct ClassListStream {
    QString stream;  // the stream's number as the server holds it ("" when it has none)
    QVector<ClassListStudent> students;
};

struct ClassList {
    ClassListHeader header;
    QVector<ClassListStream> streams;

    // Rows arrive ordered by stream: a row of another stream than the last one starts a new
    // stream, so the streams keep the server's order.
    void addStudent(const QString& stream, const QString& name, const QString& group);
    int total() const;
    bool isEmpty() const { return total() == 0; }
    // The group every student of the list belongs to; "" when the list holds several groups or
    // nobody, so a file name never claims one group for a list of many.
    QString onlyGroup() const;
};

// ---- texts shared by the document and the CSV

QStringList classListHeaderLines(const ClassListHeader& header);
QString classListTitle();
QString streamTitle(const QString& stream);
QString streamTotalText(int count);
QString grandTotalText(int count);
QString emptyListText();
QString pageNumberText(int page, int pages);

// ---- CSV

// One field from the database. A text a spreadsheet would run as a formula (it begins with
// '=', '+', '-', '@', a tab or CR) gets a leading ' and is always quoted; any other is quoted
// per RFC 4180 (inner quotes doubled) when it holds ';', '"', CR or LF.
QString csvField(const QString& text);
// UTF-8 with a byte-order mark, ';' between fields, CR LF after every row; a header row, then
// one row per student: stream, number within the stream, name, group.
QByteArray classListCsv(const ClassList& list);

// ---- file names

// "Список_<discipline>_<group>_<yyyy-MM-dd>.<suffix>", the group left out when empty. Characters
// no file system takes (/ \ : * ? " < > | and control characters) and blanks become '_', runs of
// '_' shrink to one, and the name never ends in a dot or a blank (Windows drops them).
QString proposedFileName(const QString& discipline, const QString& group, const QDate& date, const QString& suffix);
// The path with ".suffix" added when it does not already end in it (any letter case).
QString withSuffix(const QString& path, const QString& suffix);

// ---- pages

// The lines `text` takes in `width` (device units of `device`): broken at blanks, and inside a
// word that does not fit a line by itself, so no character is ever cut off. The lines joined
// give the text back.
QStringList wrapText(const QString& text, const QFont& font, double width, QPaintDevice* device);

// Where each page starts, given the heights of the body rows in order. A row is never split;
// a row with keepWithNext goes to the next page together with the row after it; a page that
// starts inside a stream spends `continuationHeight` on repeating the stream's title
// (continues[i]: row i belongs to a stream begun above it), unless its first row fits the page
// only without it: then that page goes without the title (headed[p] false) rather than run
// into the foot. A row taller than a page gets a page of its own. Returns the index of the
// first row of every page (one page when empty).
QVector<int> paginateRows(const QVector<double>& heights, const QVector<bool>& keepWithNext,
                          const QVector<bool>& continues, double pageHeight, double continuationHeight,
                          QVector<bool>* headed = nullptr);

// How many pages the list takes on the device as it is set up.
int classListPageCount(QPagedPaintDevice* device, const ClassList& list);

// Paints the list on the device from its current page on, A4 as the device is set up: the
// header and column titles on every page, the page number at the foot. Only the pages in
// `pages` (numbered from 1) are painted, every page when it is empty. Returns the number of
// pages painted, 0 when painting could not start or no page of the list is in `pages`.
int paintClassList(QPagedPaintDevice* device, const ClassList& list, const QPageRanges& pages = {});

// The list as a PDF file's bytes (Qt's PDF writer, A4, fonts with Cyrillic embedded).
QByteArray classListPdf(const ClassList& list);

}  // namespace qtl
