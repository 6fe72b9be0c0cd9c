// Shell safety of CCI command lines.
//
// Every CCI command line runs under /bin/sh (-c, or as a line of a script
// file), so every value that is not a fixed word of the command (user,
// password, instance, serial, names, labels, pools, ports, paths) goes
// through HDSShell::quote when it is composed. A plain value (only
// characters of the safe set below) stays exactly as it is; any other value
// becomes one shell word that the tool receives byte for byte and that runs
// nothing. Ids, MU numbers, instance numbers and serials are checked with
// isDecimal and the command is refused when they are not decimal digits.
//
// Control characters (anything below 0x20, and 0x7f) cannot be carried
// safely on one line of a script file; builders refuse such values with
// isLineSafe before composing.
#ifndef ZR_ARRAY_HDSSHELLQUOTE_H
#define ZR_ARRAY_HDSSHELLQUOTE_H

#include <string>

namespace HDSShell {

// True for a character of the safe set: ASCII letters, digits and
// _ - . , : / @ % + =
bool isSafeChar(char c);

// True when value is non-empty and every character is in the safe set.
bool isPlain(const std::string& value);

// True when value is a non-empty run of ASCII decimal digits.
bool isDecimal(const std::string& value);

// True when value holds no control character (so it fits on one line).
bool isLineSafe(const std::string& value);

// value unchanged when isPlain; a pair of double quotes (an empty word) for
// an empty value; otherwise one shell
// word: double quotes when the value holds none of " $ ` \ (so a name with
// blanks reads as "my group"), else single quotes with each ' written as '\''.
std::string quote(const std::string& value);

}  // namespace HDSShell

#endif  // ZR_ARRAY_HDSSHELLQUOTE_H
