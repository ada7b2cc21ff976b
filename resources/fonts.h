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

// The label font: a Song face, cell height 18, weight 600. AR PL UMing stands in for
// SimSun; without it a face of the same height and weight takes its place.
std::unique_ptr<QFont> MakeLabelFont();
