#pragma once
// Figures on screen never lose a digit: a line edit whose text is wider than its room shows it
// in a smaller font, by half-point steps, instead of cutting its first characters. Text that
// fits keeps the font of the window.
class QLineEdit;

namespace tallimer {

// Keeps the field's text whole from now on, whatever text or size it is given.
void KeepTextWhole(QLineEdit* field);

// The width the field has for its text, as the line edit lays it out when painting.
int TextRoom(const QLineEdit* field);

}  // namespace tallimer
