// The current local date and time as short texts, each in its own static
// 40-character buffer that the next call of the same function overwrites.
// A null format means "%d-%m-%Y" for the date and "%H:%M:%S" for the time.
#pragma once

char* QCurrentDate(const char* format);
char* QCurrentTime(const char* format);
