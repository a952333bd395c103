// The conversion of Windows' date and time pictures, for the tests.
#pragma once

#include <string>

// Converts a Windows date or time picture (d, dd, M, MM, y, yy, yyyy, h, hh, H, HH, m, mm,
// s, ss, t, tt, 'quoted text') to the toolkit's letters; elements without a numeric
// counterpart (day and month names, the era) are left out.
std::string WindowsPictureToToolkitFormat(const std::string& picture);
