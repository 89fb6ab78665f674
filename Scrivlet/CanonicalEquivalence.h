#pragma once

#include <string_view>

namespace scrivlet {

// Whether two texts are the same under Unicode canonical equivalence: "é" as one code point
// and as "e" followed by a combining accent count as equal. Text that is not valid UTF-8 is
// equal only to the very same bytes.
bool isCanonicallyEquivalent(std::string_view a, std::string_view b);

} // namespace scrivlet
