#pragma once

#include <QFont>
#include <QRect>

// Dialog units are fractions of a dialog font's base units: a horizontal unit is a
// quarter of the average character width, a vertical unit an eighth of the
// character height. Converted the way Windows converts them, so that the template
// numbers give the same layout.
struct DialogBaseUnits {
    int cx = 0;  // average width of the 52 letters A-Z a-z, rounded
    int cy = 0;  // the font's line height

    static DialogBaseUnits FromFont(const QFont& font);

    int MapX(int dialogUnits) const;
    int MapY(int dialogUnits) const;
    // Maps the rectangle's edges, as MapDialogRect does, so neighbouring controls
    // that share an edge in dialog units share it in pixels too.
    QRect MapRect(int x, int y, int width, int height) const;
};
