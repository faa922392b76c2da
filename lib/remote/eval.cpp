#include "remote/eval.h"

#include <cstring>

#include "msg/qlog.h"

namespace {

constexpr int kEndToken = 256;
constexpr int16_t kOpNumber = 257;
constexpr int16_t kOpNegate = 258;
constexpr int16_t kOpComplement = 259;
constexpr int kCodeSize = 40;
constexpr int kStackSize = 40;

struct Code {
  int16_t op;
  int32_t value;
};

// The evaluator's state is static storage shared by every call. The value
// stack in particular is never cleared: a missing operand pops whatever an
// earlier push left in slot 0, which is how "5+" comes to 10.
const char* text = nullptr;
int length = 0;
// Wider than the 8 bits the notation was first laid out with, so texts of
// 128 characters and more are read rather than wrapped to a negative index.
int position = -1;
int token = kEndToken;
int32_t lastNumber = 0;
Code code[kCodeSize];
int codeCount = 0;
bool codeOverflow = false;
int32_t stack[kStackSize];
int stackCount = 0;

void advance() {
  for (;;) {
    ++position;
    if (position >= length) {
      position = length;
      token = kEndToken;
      return;
    }
    if (text[position] != ' ') break;
  }
  token = static_cast<signed char>(text[position]);
}

void match(int expected) {
  if (token == expected)
    advance();
  else
    token = kEndToken;
}

// An expression that needs more entries than the list holds is refused as a
// whole: evaluating a cut-off prefix would give a plausible but wrong port.
void append(int16_t op, int32_t value = 0) {
  if (codeCount >= kCodeSize) {
    codeOverflow = true;
    token = kEndToken;
    return;
  }
  code[codeCount].op = op;
  code[codeCount].value = value;
  ++codeCount;
}

int digitValue(char c, int base) {
  int v;
  if (c >= '0' && c <= '9')
    v = c - '0';
  else if (c >= 'A' && c <= 'F')
    v = c - 'A' + 10;
  else if (c >= 'a' && c <= 'f')
    v = c - 'a' + 10;
  else
    return -1;
  return v < base ? v : -1;
}

void readDigits(int base) {
  uint32_t value = 0;
  while (position >= 0 && position < length) {
    int d = digitValue(text[position], base);
    if (d < 0) break;
    value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
    ++position;
  }
  lastNumber = static_cast<int32_t>(value);
  append(kOpNumber, lastNumber);
}

// The character of the next token after the current one, blanks skipped.
int peekNext() {
  for (int p = position + 1; p < length; ++p)
    if (text[p] != ' ') return static_cast<signed char>(text[p]);
  return kEndToken;
}

void expression();

void operand() {
  switch (token) {
    case '#':
      match('#');
      readDigits(2);
      break;
    case '$':
      match('$');
      readDigits(16);
      break;
    case '0':
      if (peekNext() == 'x' || peekNext() == 'X') {
        match('0');
        match(token);
        readDigits(16);
      } else {
        match('0');
        readDigits(8);
      }
      break;
    case '1': case '2': case '3': case '4': case '5':
    case '6': case '7': case '8': case '9':
      readDigits(10);
      break;
    case '+':
      match('+');
      expression();
      break;
    case '-':
      match('-');
      expression();
      append(kOpNegate);
      break;
    case '~':
      match('~');
      expression();
      append(kOpComplement);
      break;
    default:
      break;
  }
}

void factor() {
  if (token == '(') {
    match('(');
    expression();
    match(')');
    return;
  }
  operand();
  if (token == kEndToken && codeOverflow) return;
  // Literals are read straight from the text and leave the position after
  // their last digit; stepping back one and advancing makes the next token
  // current. At position 0 the step back is skipped, as the notation has it.
  if (position > 0) --position;
  advance();
}

void term() {
  factor();
  while (token == '*' || token == 'x' || token == '/' || token == '%') {
    int op = token;
    match(op);
    factor();
    append(static_cast<int16_t>(op == 'x' ? '*' : op));
  }
}

void sum() {
  term();
  while (token == '+' || token == '-') {
    int op = token;
    match(op);
    term();
    append(static_cast<int16_t>(op));
  }
}

void conjunction() {
  sum();
  while (token == '&' || token == '^') {
    int op = token;
    match(op);
    sum();
    append(static_cast<int16_t>(op));
  }
}

void expression() {
  conjunction();
  while (token == '|') {
    match('|');
    conjunction();
    append('|');
  }
}

// A push onto 39 values writes the last slot without counting it.
void push(int32_t v) {
  stack[stackCount] = v;
  if (stackCount < kStackSize - 1) ++stackCount;
}

int32_t pop() {
  if (stackCount == 0) return stack[0];
  return stack[--stackCount];
}

int32_t apply(int op, int32_t left, int32_t right) {
  uint32_t l = static_cast<uint32_t>(left);
  uint32_t r = static_cast<uint32_t>(right);
  switch (op) {
    case '|': return static_cast<int32_t>(l | r);
    case '&': return static_cast<int32_t>(l & r);
    case '^': return static_cast<int32_t>(l ^ r);
    case '+': return static_cast<int32_t>(l + r);
    case '-': return static_cast<int32_t>(l - r);
    case '*': return static_cast<int32_t>(l * r);
    case '/':
      if (right == 0) return 0;
      // The one quotient that does not fit: wrap it as the other operators do.
      if (right == -1) return static_cast<int32_t>(0u - l);
      return left / right;
    case '%':
      if (right == 0 || right == -1) return 0;
      return left % right;
    default:
      return 0;
  }
}

int32_t run() {
  stackCount = 0;
  for (int i = 0; i < codeCount; ++i) {
    const Code& c = code[i];
    switch (c.op) {
      case kOpNumber:
        push(c.value);
        break;
      case kOpNegate:
        push(static_cast<int32_t>(0u - static_cast<uint32_t>(pop())));
        break;
      case kOpComplement:
        push(static_cast<int32_t>(~static_cast<uint32_t>(pop())));
        break;
      default: {
        int32_t right = pop();
        int32_t left = pop();
        push(apply(c.op, left, right));
        break;
      }
    }
  }
  return stackCount > 0 ? stack[stackCount - 1] : 0;
}

}  // namespace

int32_t Eval(const char* expression_text) {
  if (!expression_text) {
    QWarning("Eval() is passed 0-pointer");
    return 0;
  }
  if (expression_text[0] == '\0') return 0;
  text = expression_text;
  size_t n = std::strlen(expression_text);
  // An int position reaches any text the options file can hold (255 characters).
  length = n > 0x7FFFFFF ? 0x7FFFFFF : static_cast<int>(n);
  position = -1;
  codeCount = 0;
  codeOverflow = false;
  advance();
  if (token != kEndToken) expression();
  int32_t result = codeOverflow ? 0 : run();
  text = nullptr;
  return result;
}
