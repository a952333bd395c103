// Text across the wide (UTF-16) Windows API: UTF-8 inside, UTF-16 at the system, so that no
// code page is involved.
#pragma once

#include <string>

std::wstring Utf8ToWide(const std::string& text);
// Stops at the first NUL, as the system's strings end there.
std::string WideToUtf8(const wchar_t* text, size_t length);
std::string WideToUtf8(const std::wstring& text);
// The system's text for an error number, without its line break.
std::string WindowsErrorText(unsigned long error);
