// The running invoice's editor lays out only what it shows: what the user sees, clicks and
// selects must be what the standard layout gives, at the top, the middle and the end.
#include "richtext/VisibleLayout.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextTable>
#include <chrono>
#include <cstdlib>

#include "richtext/RichInvoice.h"
#include "richtext/RtfReader.h"
#include "richtext/RtfWriter.h"
#include "tests/common/Fakes.h"

using namespace tallimer;

namespace {

// The installed template, lines, a bold totals paragraph and a user's line with a larger font.
QByteArray LongInvoice(int lines) {
    QTextDocument doc;
    RichInvoice invoice(&doc);
    invoice.loadRtf(std::string(std::getenv("TALLIMER_SOURCE_DIR")) + "/data/base.rtf");
    for (int i = 0; i < lines; ++i) {
        if (i == lines / 2) {
            invoice.setAppendAttributes({.bold = true});
            invoice.appendParagraph("\tTotal de la période\t12:00:00\t1234,50");
            invoice.setAppendAttributes({});
        }
        invoice.appendParagraph("\t05 mars 01, 21:07:" + std::to_string(10 + i % 50) +
                                "\t01:02:09\t" + std::to_string(i) + ",35");
    }
    QTextCursor big(doc.findBlockByNumber(7));
    QTextCharFormat larger;
    larger.setFontPointSize(16);
    big.mergeCharFormat(larger);
    return WriteRtf(doc);
}

struct Editor {
    QTextDocument doc;
    QTextEdit edit;
    Editor(const QByteArray& rtf, bool visible) {
        if (visible) doc.setDocumentLayout(new VisibleLayout(&doc));
        ReadRtf(rtf, doc);
        edit.setLineWrapMode(QTextEdit::NoWrap);
        edit.setDocument(&doc);
        edit.resize(640, 300);
        edit.show();
        QCoreApplication::processEvents();
    }
    QImage shot() {
        QCoreApplication::processEvents();
        return edit.viewport()->grab().toImage();
    }
};

}  // namespace

TEST(VisibleLayout, ShowsHitsAndSelectsAsTheStandardLayoutEverywhere) {
    const QByteArray rtf = LongInvoice(400);
    Editor standard(rtf, false);
    Editor visible(rtf, true);
    ASSERT_NE(qobject_cast<VisibleLayout*>(visible.doc.documentLayout()), nullptr);
    EXPECT_EQ(visible.shot(), standard.shot());
    for (Editor* e : {&standard, &visible}) {
        QTextCursor at(&e->doc);
        at.setPosition(e->doc.findBlockByNumber(203).position() + 3);
        at.setPosition(e->doc.findBlockByNumber(206).position() + 9, QTextCursor::KeepAnchor);
        e->edit.setTextCursor(at);
        e->edit.ensureCursorVisible();
    }
    EXPECT_EQ(visible.edit.verticalScrollBar()->value(),
              standard.edit.verticalScrollBar()->value());
    EXPECT_EQ(visible.shot(), standard.shot());
    for (Editor* e : {&standard, &visible}) {
        e->edit.moveCursor(QTextCursor::End);
        QTest::mouseClick(e->edit.viewport(), Qt::LeftButton, {}, QPoint(300, 150));
    }
    EXPECT_EQ(visible.edit.verticalScrollBar()->maximum(),
              standard.edit.verticalScrollBar()->maximum());
    EXPECT_EQ(visible.edit.textCursor().position(), standard.edit.textCursor().position());
    // Only one of them holds the focus, with its blinking cursor.
    visible.edit.clearFocus();
    standard.edit.clearFocus();
    EXPECT_EQ(visible.shot(), standard.shot());
    visible.edit.selectAll();
    standard.edit.selectAll();
    EXPECT_EQ(visible.shot(), standard.shot());
    EXPECT_EQ(visible.edit.horizontalScrollBar()->maximum(),
              standard.edit.horizontalScrollBar()->maximum());
}

// A table or a list pasted in is no paragraph of an invoice: the standard layout takes over.
TEST(VisibleLayout, AnythingButParagraphsGoesBackToTheStandardLayout) {
    Editor visible(LongInvoice(3), true);
    QTextCursor(&visible.doc).insertTable(2, 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(qobject_cast<VisibleLayout*>(visible.doc.documentLayout()), nullptr);
    EXPECT_EQ(visible.doc.documentLayout()->documentSize(), visible.doc.size());
}

// A long invoice read slice by slice, lines arriving meanwhile, is the invoice read at once.
TEST(RichInvoiceSlices, ReadInSlicesIsReadAtOnceWithTheLinesThatCameMeanwhile) {
    const QByteArray rtf = LongInvoice(3000);
    test::TempDir dir;
    test::WriteFile(dir.path() / "temp.rtf", rtf.toStdString());
    QTextDocument expected;
    ReadRtf(rtf, expected);
    RichInvoice(&expected).appendParagraph("\tpendant");

    QTextDocument doc;
    RichInvoice invoice(&doc);
    invoice.openKept(dir.str() + "temp.rtf");
    int slices = 0;
    while (!invoice.loadFor(std::chrono::milliseconds(0))) {
        if (++slices == 2) invoice.appendParagraph("\tpendant");
    }
    EXPECT_GT(slices, 2);
    EXPECT_EQ(doc.toPlainText(), expected.toPlainText());
    EXPECT_EQ(WriteRtf(doc), WriteRtf(expected));
    EXPECT_TRUE(doc.isUndoRedoEnabled());
}

// A closing in the middle of a read files the whole invoice and leaves the template alone.
TEST(RichInvoiceSlices, AClosingDuringAReadFilesTheWholeInvoiceAndEndsTheRead) {
    const QByteArray rtf = LongInvoice(3000);
    test::TempDir dir;
    test::WriteFile(dir.path() / "temp.rtf", rtf.toStdString());
    QTextDocument expected;
    ReadRtf(rtf, expected);
    RichInvoice whole(&expected);
    whole.setAppendAttributes({.bold = true});
    whole.appendParagraph("\n\nCoût total = 1,00");

    QTextDocument doc;
    RichInvoice invoice(&doc);
    invoice.openKept(dir.str() + "temp.rtf");
    ASSERT_FALSE(invoice.loadFor(std::chrono::milliseconds(0)));
    ASSERT_TRUE(invoice.saveRtfAppended(dir.str() + "filed.rtf", {"\n\nCoût total = 1,00"},
                                        {.bold = true}));
    const std::string base = std::string(std::getenv("TALLIMER_SOURCE_DIR")) + "/data/base.rtf";
    invoice.loadRtf(base);
    EXPECT_TRUE(invoice.loadFor(std::chrono::milliseconds(0)));
    EXPECT_EQ(test::ReadFile(dir.path() / "filed.rtf"), WriteRtf(expected).toStdString());
    QTextDocument fresh;
    LoadRtfFile(fresh, QString::fromStdString(base));
    EXPECT_EQ(doc.toPlainText(), fresh.toPlainText());
}
