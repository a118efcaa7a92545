#pragma once
// What a screen reader says of a control: the label a sighted user reads beside it. Header
// only, so the statistics module uses it without the program's controls.
#include <QLabel>
#include <QString>
#include <QWidget>

namespace tallimer {

// A caption as said aloud: without its mnemonic's "&" and its closing colon.
inline QString SpokenCaption(const QString& caption) {
    QString text;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&' && i + 1 < caption.size()) ++i;  // "&&" is one "&"
        text += caption[i];
    }
    text = text.trimmed();
    if (text.endsWith(u':')) text.chop(1);
    while (!text.isEmpty() && text.back().isSpace()) text.chop(1);
    return text;
}

// The label names the field: its buddy (its mnemonic gives the field the focus) and the
// field's accessible name.
inline QLabel* Names(QLabel* label, QWidget* field) {
    label->setBuddy(field);
    field->setAccessibleName(SpokenCaption(label->text()));
    return label;
}

}  // namespace tallimer
