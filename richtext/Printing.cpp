#include "richtext/Printing.h"

#include <QGuiApplication>
#include <QPrinter>
#include <QScreen>
#include <QTextDocument>
#include <QTextFrame>
#include <memory>

#include "richtext/RtfShared.h"

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
    // The margins the document came with; 2 cm where it gave none.
    const rtf::PageSetup page = rtf::PageSetupOf(doc);
    const auto margin = [dpi](int twips) {
        return twips >= 0 ? twips / 1440.0 * dpi : 2 / 2.54 * dpi;
    };
    QTextFrameFormat frame = copy->rootFrame()->frameFormat();
    frame.setLeftMargin(margin(page.marginLeft));
    frame.setRightMargin(margin(page.marginRight));
    frame.setTopMargin(margin(page.marginTop));
    frame.setBottomMargin(margin(page.marginBottom));
    copy->rootFrame()->setFrameFormat(frame);
    copy->print(&printer);
    return printer.printerState() != QPrinter::Error;
}

}  // namespace tallimer
