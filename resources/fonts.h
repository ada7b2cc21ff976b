#pragma once

#include <QFont>
#include <QString>
#include <memory>

// Windows sizes its fonts for 96 dpi: a point size becomes a character height of
// MulDiv(points, 96, 72) pixels (8 pt -> 11 px, 9 pt -> 12 px). Fonts are made with
// pixel sizes so that layouts come out the same whatever dpi the screen reports.
int PointsToPixelsAt96Dpi(int points);

// The font of a dialog template. "MS Shell Dlg" and "Microsoft Sans Serif" do not
// exist here and map to Liberation Sans, installed everywhere the program runs, so
// that dialog layouts come out the same on every machine; any other face is asked
// for as it stands.
QFont MakeTemplateFont(const QString& faceName, int pointSize, int weight = QFont::Normal);

// What a widget draws in when nobody chose its font: the main window's template font.
// The application's default font is the machine's (on a bare Debian 12 a monospace
// face) and is never drawn in.
QFont DefaultWidgetFont();

// `font` with every attribute that no one set on it (the widget itself or a parent
// it inherits from) taken from DefaultWidgetFont() instead of the machine's default.
QFont ResolveWidgetFont(const QFont& font);

// Windows font heights: a negative height is the character (em) height in pixels, a
// positive one the cell height (ascent + descent), which also holds the internal
// leading. Sets `font`'s pixel size accordingly; 0 leaves it as it is.
void ApplyWindowsHeight(QFont& font, long height);

// Windows weights: from 600 up Windows emboldens a face that has no weight that heavy
// (SimSun at 600 is drawn bold), while fontconfig emboldens only from bold up. A face
// without a heavy enough style is therefore asked for bold.
void ApplyWindowsWeight(QFont& font, int weight);

// The label font: a Song face, cell height 18, weight 600. AR PL UMing stands in for
// SimSun; without it a face of the same height and weight takes its place.
std::unique_ptr<QFont> MakeLabelFont();
