#include "Unit6.h"

#include "platform/Accessibility.h"
#include "platform/FileDialogs.h"
#include "platform/Guard.h"
#include "util/errors.h"

#include <QDir>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QVBoxLayout>

#include <utility>

namespace qtl {

namespace {

void setUpA4(QPrinter* printer) {
    printer->setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 15, 15, 15),
                                       QPageLayout::Millimeter));
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, const QString& tip) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(tip);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

TForm6::TForm6(ClassList list, QWidget* parent, First first) : QDialog(parent), m_list(std::move(list)) {
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("Список потоков"));
    setModal(true);
    resize(720, 640);

    m_previewPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    setUpA4(m_previewPrinter.get());
    Preview = new QPrintPreviewWidget(m_previewPrinter.get(), this);
    Preview->setObjectName(QStringLiteral("Preview"));
    Preview->fitToWidth();
    connect(Preview, &QPrintPreviewWidget::paintRequested, this,
            [this](QPrinter* printer) { paintClassList(printer, m_list); });

    BitBtnPrint =
        button(this, "BitBtnPrint", QStringLiteral("Печать..."), QStringLiteral("Напечатать список (Ctrl+P)"));
    BitBtnPdf = button(this, "BitBtnPdf", QStringLiteral("Сохранить PDF..."),
                       QStringLiteral("Сохранить список в файл PDF (Ctrl+S)"));
    BitBtnCsv = button(this, "BitBtnCsv", QStringLiteral("Сохранить CSV..."),
                       QStringLiteral("Сохранить список в файл CSV для таблиц (Ctrl+Shift+S)"));
    BitBtnClose = button(this, "BitBtnClose", QStringLiteral("Закрыть"), QString());
    (first == First::SavePdf ? BitBtnPdf : BitBtnPrint)->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BitBtnPrint);
    buttons->addWidget(BitBtnPdf);
    buttons->addWidget(BitBtnCsv);
    buttons->addStretch(1);
    buttons->addWidget(BitBtnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Preview, 1);
    layout->addLayout(buttons);

    onEvent(BitBtnPrint, &QPushButton::clicked, this, [this] { BitBtnPrintClick(); });
    onEvent(BitBtnPdf, &QPushButton::clicked, this, [this] { BitBtnPdfClick(); });
    onEvent(BitBtnCsv, &QPushButton::clicked, this, [this] { BitBtnCsvClick(); });
    connect(BitBtnClose, &QPushButton::clicked, this, &QDialog::reject);
    const std::pair<QKeySequence, QPushButton*> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_P), BitBtnPrint},
        {QKeySequence(Qt::CTRL | Qt::Key_S), BitBtnPdf},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), BitBtnCsv},
    };
    for (const auto& [key, target] : keys) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, target, &QPushButton::click);
    }
    (first == First::SavePdf ? BitBtnPdf : BitBtnPrint)->setFocus();
    setUpAssistiveAccess();
}

TForm6::~TForm6() = default;

QString TForm6::proposedPath(const QString& suffix) const {
    // The group goes into the name only when it is the group of everyone on the list.
    return QDir(FileDialogs::documentsFolder())
        .filePath(proposedFileName(m_list.header.discipline, m_list.onlyGroup(), m_list.header.date, suffix));
}

void TForm6::writeFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw AppError(QStringLiteral("Не удалось сохранить файл ") + QDir::toNativeSeparators(path) +
                       QStringLiteral(": ") + file.errorString());
}

void TForm6::BitBtnPrintClick() {
    QPrinter printer(QPrinter::HighResolution);
    setUpA4(&printer);
    printer.setDocName(classListTitle());
    if (!FileDialogs::instance().setUpPrinter(this, &printer, classListPageCount(&printer, m_list))) return;
    // The printer only reports the chosen range; leaving pages out is the program's job. The
    // count is taken again: the paper chosen in the dialog may change it.
    const QPageRanges chosen = printer.printRange() == QPrinter::PageRange ? printer.pageRanges() : QPageRanges();
    const int pages = classListPageCount(&printer, m_list);
    if (!chosen.isEmpty() && chosen.firstPage() > pages)
        throw AppError(QStringLiteral("В списке ") + QString::number(pages) +
                       QStringLiteral(" стр.: выбранных для печати страниц в нём нет"));
    if (paintClassList(&printer, m_list, chosen) == 0)
        throw AppError(QStringLiteral("Не удалось начать печать на принтере ") + printer.printerName());
}

void TForm6::BitBtnPdfClick() {
    const QString chosen = FileDialogs::instance().saveFileName(this, QStringLiteral("Сохранить список в PDF"),
                                                                proposedPath(QStringLiteral("pdf")),
                                                                QStringLiteral("Документ PDF (*.pdf)"));
    if (chosen.isEmpty()) return;
    const QByteArray pdf = classListPdf(m_list);
    if (pdf.isEmpty()) throw AppError(QStringLiteral("Не удалось построить документ PDF"));
    writeFile(withSuffix(chosen, QStringLiteral("pdf")), pdf);
}

void TForm6::BitBtnCsvClick() {
    const QString chosen = FileDialogs::instance().saveFileName(this, QStringLiteral("Сохранить список в CSV"),
                                                                proposedPath(QStringLiteral("csv")),
                                                                QStringLiteral("Таблица CSV (*.csv)"));
    if (chosen.isEmpty()) return;
    writeFile(withSuffix(chosen, QStringLiteral("csv")), classListCsv(m_list));
}

// ---- assistive technology and the keyboard

void TForm6::setUpAssistiveAccess() {
    Preview->setAccessibleName(QStringLiteral("Страницы списка"));
    // Enter presses the focused button; with the focus elsewhere it presses the one offered first.
    PressFocusedButtonsOnEnter(this);
}

}  // namespace qtl
