#pragma once

#include <optional>
#include <string_view>

namespace scrivlet {

// Reading text that comes from outside the process (the control socket, scenario files).
// Nothing here throws: a caller gets nothing back and says what it wanted instead.

// The whole text must be one number inside [minimum, maximum]: no spaces, no '+', no trailing
// characters, nothing that overflows, and for decimals nothing infinite or NaN.
std::optional<long long> parseWholeNumber(std::string_view text, long long minimum,
                                          long long maximum);
std::optional<double> parseDecimalNumber(std::string_view text, double minimum, double maximum);

// Well-formed UTF-8 (no overlong forms, surrogates, or code points past U+10FFFF) with no
// control characters, NUL included: text a person could have typed on one line.
bool isTypedText(std::string_view text);

} // namespace scrivlet
