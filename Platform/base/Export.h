#pragma once

// The platform library is built with hidden symbols; what its headers mark with this macro
// is its interface to the programs and libraries that link it.
#define SCRIVLET_PLATFORM_API __attribute__((visibility("default")))
