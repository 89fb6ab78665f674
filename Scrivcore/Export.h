#pragma once

// Scrivcore is built with hidden symbols; what its headers mark with this macro is the
// interface the app and the extension link against.
#define SCRIVCORE_API __attribute__((visibility("default")))
