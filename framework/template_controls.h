#pragma once

#include "resources/dialog_templates.h"

class QWidget;
struct DialogBaseUnits;

// Makes the plain widget a template row stands for when no member takes its place:
// push button, label, framed static, icon, edit field, combo box or up-down.
QWidget* CreateDefaultControl(const DialogControlTemplate& row, QWidget* parent);

// Gives a widget what its template row says: geometry (converted from dialog
// units), caption, enabled state, focus behaviour and the look the row's styles
// ask for, and a combo box its initial items.
void ApplyControlTemplate(QWidget& control, const DialogControlTemplate& row,
                          const DialogBaseUnits& units);
