#include "richtext/Printing.h"

#include <QGuiApplication>
#include <QPrinter>
#include <QScreen>
#include <QTextDocument>
#include <QTextFrame>
#include <memory>

namespace tallimer {

bool PrintDocument(const QTextDocument& doc, QPrinter& printer) {
    printer.setDocName(QString::fromUtf8(kPrintJobTitle));
    // A copy laid out on the printer's page: printing a document without a page size would
    // add page numbers that are not part of the invoice.
    const std::unique_ptr<QTextDocument> copy(doc.clone());
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    copy->setPageSize(QSizeF(printer.width() * dpi / printer.logicalDpiX(),
                             printer.height() * dpi / printer.logicalDpiY()));
    QTextFrameFormat frame = copy->rootFrame()->frameFormat();
    frame.setMargin(2 / 2.54 * dpi);  // 2 cm
    copy->rootFrame()->setFrameFormat(frame);
    copy->print(&printer);
    return printer.printerState() != QPrinter::Error;
}

}  // namespace tallimer
