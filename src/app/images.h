// The program's pictures, drawn at start: tray images, logo and button glyphs.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <vector>

// Index 0 yellow-green clock, 1 clock with a red ring, 2 cyan clock, 3 solid red clock.
std::vector<QIcon> TrayImages();
QPixmap ChipImage(int index, int size = 16);
QPixmap LogoImage();  // 32 x 32
QIcon StartGlyph();
QIcon StopGlyph();
QIcon CloseGlyph();
