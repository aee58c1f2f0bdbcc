#pragma once

#include <QColor>
#include <QPalette>

#include <cstdint>

// Colour values as the settings file stores them: 0x00BBGGRR for an RGB colour (red in
// the low byte), 0xFF0000nn for the desktop's colour with index nn.
namespace tonelark {

using TColor = std::int32_t;

inline constexpr TColor kSystemColorFlag = static_cast<TColor>(0xFF000000u);

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clWindow = static_cast<TColor>(0xFF000005u);
inline constexpr TColor clWindowFrame = static_cast<TColor>(0xFF000006u);
inline constexpr TColor clWindowText = static_cast<TColor>(0xFF000008u);
inline constexpr TColor clHighlight = static_cast<TColor>(0xFF00000Du);
inline constexpr TColor clHighlightText = static_cast<TColor>(0xFF00000Eu);
inline constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000Fu);

// The QColor a TColor stands for; desktop colours come from the palette (Qt's roles in
// place of the desktop's colour indices), unknown indices and stray high bytes give the
// classic desktop colour or the RGB part.
QColor colorFromTColor(TColor color, const QPalette &palette);

// The TColor of an RGB colour (alpha ignored).
TColor tcolorFromRgb(QColor color);

} // namespace tonelark
