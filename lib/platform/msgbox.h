// Stand-in for the platform's modal message box: the caption and the text go
// to standard error and the call returns at once (there is no one to click).
#pragma once

constexpr unsigned QMB_ICONEXCLAMATION = 0x30;
constexpr unsigned QMB_TOPMOST = 0x40000;

void QMessageBox(const char* text, const char* caption, unsigned style);
