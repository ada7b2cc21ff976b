#pragma once

#include <QString>

class QWidget;

// The text a control shows, for the kinds of control a template makes: a button's
// caption, a label's text, an edit field's contents, a combo box's current text.
QString ControlText(const QWidget& control);

// Sets it. A combo box without an edit field keeps its selection: it has no text
// of its own to set.
void SetControlText(QWidget& control, const QString& text);
