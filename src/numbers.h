// Numbers as values: how a value's text is read as a number, and the texts
// the typed setters write. Pure functions, shared by the library and the
// iniplace tool.
#pragma once

#include "text.h"

namespace iniplace {

// How a value's text is read as a number: decimal (never octal), then
// hexadecimal with or without 0x; or binary digits only, without prefix.
enum class Radix { decimal_then_hex, binary };

// White space as strtol passes over it (the C locale's isspace).
constexpr std::string_view c_space = " \t\n\v\f\r";
// The bits a binary value holds: its low 32, whatever the width of long.
constexpr int binary_digits = 32;
constexpr unsigned long binary_max = 0xFFFFFFFFul;
static_assert(binary_max == (1ull << binary_digits) - 1, "a binary value's bits");

// Reads all of `text` as a number by the C library's conversion: leading
// white space and a sign are taken, and the unsigned conversion wraps a
// minus sign around. False for an empty text, one that is not wholly a
// number, and a number out of range; `number` is set only on success.
bool parse_number(const char *text, Radix radix, long &number);
bool parse_number(const char *text, Radix radix, unsigned long &number);

// Reads a number a person gives (a value on the iniplace tool's command
// line) by the same rule, refusing two texts that the rule takes otherwise
// than they are meant: a minus sign for an unsigned number, which it wraps
// around, and a leading 0b, which it takes for hexadecimal digits. With
// `plain`, only decimal digits, or 0x and hexadecimal digits, after white
// space and a sign: never other text the rule reads as hexadecimal (12abc).
bool parse_given_number(const char *text, Radix radix, bool plain, long &number);
bool parse_given_number(const char *text, Radix radix, bool plain, unsigned long &number);

enum class Base { decimal, hex };

// `-5`, `4000000000`, `0xFF` (upper-case digits, 0 as `0x0`).
Text number_text(long number);
Text number_text(unsigned long number, Base base);
// Bits 31 to 0 of `bits` as binary_digits digits.
Text binary_text(unsigned long bits);
// The value in double quotes, without escaping; it does not fit when the
// quoted text would be longer than text_max bytes.
Text quoted_text(std::string_view value);

} // namespace iniplace
