// Eval: the value of a small integer expression, as the options file writes
// its port (600, 0x258, 599+1).
//
// Operators, loosest first: '|'; '&' and '^'; '+' and '-'; '*' (also 'x'),
// '/' and '%'; unary '+', '-' and '~' whose operand reaches to the end of
// the text or the enclosing ')'. Literals: decimal, 0-prefixed octal, 0x or
// $ hexadecimal, # binary. Arithmetic wraps at 32 bits; division truncates
// toward zero; division or remainder by 0 gives 0, and the most negative
// value divided by -1 gives itself (remainder 0).
//
// Text that fits nowhere ends the expression quietly and what came before it
// is evaluated. An expression needing more than 40 code entries gives 0. A
// null text gives 0 and the warning "Eval() is passed 0-pointer". Never
// throws; not reentrant (its state is shared static storage).
#pragma once

#include <cstdint>

int32_t Eval(const char* text);
