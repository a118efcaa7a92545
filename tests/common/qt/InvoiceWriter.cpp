// Lines added to a running invoice file as the program adds them, one after the other,
// saying "ok" once each save has returned, until it is killed.
#include <unistd.h>

#include <QGuiApplication>
#include <QTextDocument>
#include <cstdlib>
#include <string>

#include "richtext/RichInvoice.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    QTextDocument doc;
    tallimer::RichInvoice invoice(&doc);
    invoice.openKept(argv[1]);
    const std::string prefix = std::string("\t#") + argv[2] + " ";
    for (int i = 0;; ++i) {
        invoice.appendParagraph(prefix + std::to_string(i) + "\t\xc3\xa9");
        invoice.saveRtf(argv[1]);
        if (::write(1, "ok\n", 3) != 3) return 1;
    }
}
