#pragma once
// What the rich-text tests look at in a document.
#include <gtest/gtest.h>
#include <QByteArray>
#include <QColor>
#include <QDeadlineTimer>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include <ostream>
#include <string>

#include "richtext/RtfReader.h"

namespace tallimer::test {

inline QStringList Paragraphs(const QTextDocument& doc) {
    QStringList out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) out << b.text();
    return out;
}

// Text runs that are bold, neighbouring bold fragments joined.
inline QStringList BoldRuns(const QTextDocument& doc) {
    QStringList out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        QString run;
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (f.charFormat().fontWeight() >= QFont::DemiBold) {
                run += f.text();
            } else if (!run.isEmpty()) {
                out << run;
                run.clear();
            }
        }
        if (!run.isEmpty()) out << run;
    }
    return out;
}

// The format of the character at offset in paragraph block.
inline QTextCharFormat FormatAt(const QTextDocument& doc, int block, int offset) {
    const QTextBlock b = doc.findBlockByNumber(block);
    for (auto it = b.begin(); !it.atEnd(); ++it) {
        const QTextFragment f = it.fragment();
        const int start = f.position() - b.position();
        if (offset >= start && offset < start + f.length()) return f.charFormat();
    }
    return {};
}

// The paragraphs as the reader without a document gives them, read in the shortest slices.
inline QStringList StreamedParagraphs(const QByteArray& rtf) {
    QStringList out;
    RtfParagraphReader reader(rtf, [&out](const QString& p) { out << p; });
    while (!reader.readUntil(QDeadlineTimer(0))) {
    }
    return out;
}

// Each reading is held to the same paragraphs without a document.
inline QStringList ReadParagraphs(const QByteArray& rtf) {
    QTextDocument doc;
    ReadRtf(rtf, doc);
    EXPECT_EQ(StreamedParagraphs(rtf), Paragraphs(doc));
    return Paragraphs(doc);
}

inline QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

inline std::string Show(const QStringList& l) {
    return l.join(u'|').toStdString();
}

}  // namespace tallimer::test

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '[' << l.join(QStringLiteral("][")).toStdString() << ']';
}
inline void PrintTo(const QColor& c, std::ostream* os) {
    *os << c.name().toStdString();
}
