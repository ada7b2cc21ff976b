#pragma once

#include <QImage>

// The program's pictures, drawn from scratch so they can be remade at any time.

// The main window's background: the coloured field with the light title tab.
// `scale` 2 draws the same picture at twice the pixels, for a screen scaled by 2.
QImage DrawBackground(int scale = 1);
// The seven-segment glyph strip of the readouts.
QImage DrawGlyphStrip();
// The program icon (a monitor with a small window in front), `size` pixels square.
QImage DrawIcon(int size);
