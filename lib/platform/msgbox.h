// The platform's modal message box: on Windows the real one, with the style
// bits passed as they are (the values below are the Windows MB_ ones).
// Elsewhere a stand-in: the caption and the text go to standard error and
// the call returns at once (there is no one to click).
#pragma once

constexpr unsigned QMB_ICONEXCLAMATION = 0x30;
constexpr unsigned QMB_TOPMOST = 0x40000;

void QMessageBox(const char* text, const char* caption, unsigned style);
