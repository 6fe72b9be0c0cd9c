// Key-value text lookup: the value of one key in a flat text of entries,
// each a key, ':', a value and a separator, such as the host's array-details
// text ("hostUserName:u,hostPassword:p,engineName:...") or a stored metadata
// text ("1S:412345**3L:256**"). Not a JSON reader: it never looks at quoting,
// nesting or escapes.
#pragma once

#include <string>

// The longest value handed out (the stored metadata texts hold up to 4095
// characters). A longer value is refused rather than cut, since a cut value
// would read as a different, wrong one.
constexpr std::size_t kParseJsonStringMaxValue = 4095;

// Finds the value of key in text (read up to its first zero byte) and stores
// it in value. Returns 1 when found, 0 otherwise (value untouched).
//
// - An empty text or key gives 0. An empty separator means ",".
// - Separator "**" (stored metadata): the key counts only as the key of an
//   entry: at the start of the text or right after "**", directly followed
//   by ':'. So a key text inside an earlier value (a label holding "23OS")
//   is not taken for the key. Any other separator: the first occurrence of
//   the key anywhere in the text.
// - The value runs from the first ':' after the key to the next separator,
//   or, without one, to the next '}'; with neither, 0. Longer than
//   kParseJsonStringMaxValue: 0.
// - Key "hostPassword" is read by its own rule so that a password may hold
//   the separator: from the byte after "hostPassword" and its ':' up to the
//   byte before the first "engineName"; 0 when either word is missing or the
//   span is negative. No length limit.
int parseJsonString(std::string text, std::string key, std::string& value,
                    std::string separator = "");
