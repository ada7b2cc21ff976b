#pragma once

#include <QColor>

// The program's colours.
namespace Palette {

inline const QColor kBackground{73, 86, 119};   // dialogs, button faces, graph background
inline const QColor kLightText{234, 234, 234};  // labels, button captions, axis titles
inline const QColor kWhite{255, 255, 255};
inline const QColor kAlarmText{255, 120, 110};  // an alarm on the status line, on its dark bar //
                                                // the port setting dialog's captions
inline const QColor kSpeedCurve{0, 0, 128};     // the speed series
inline const QColor kTitleBlue{83, 83, 213};    // "Velmora" on the background picture's tab
inline const QColor kTab{234, 234, 234};        // the background picture's tab

// Seven-segment glyph strip.
inline const QColor kGlyphLit{0, 0, 0};
inline const QColor kGlyphUnlit{221, 221, 221};
inline const QColor kGlyphGround{234, 234, 234};

}  // namespace Palette
