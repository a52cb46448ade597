#pragma once

// The library is built with hidden visibility: only what carries this mark is
// in its dynamic symbol table. It marks the public classes (with their
// typeinfo and vtables, so exceptions and dynamic_cast work across the
// library boundary) and the public free functions. Hosts see the same
// attribute; on ELF it serves both sides.
#if defined(__GNUC__) || defined(__clang__)
#define BRAMLOCK_EXPORT __attribute__((visibility("default")))
// For members of a public class that take the library's internal types:
// hosts cannot call them, so they stay out of the symbol table.
#define BRAMLOCK_HIDDEN __attribute__((visibility("hidden")))
#else
#define BRAMLOCK_EXPORT
#define BRAMLOCK_HIDDEN
#endif
