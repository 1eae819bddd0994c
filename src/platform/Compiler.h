// Small portability macros for the compilers we build with.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define VOK_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#define VOK_LIKELY(x) __builtin_expect(!!(x), 1)
#define VOK_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define VOK_PRINTF(fmt, args)
#define VOK_LIKELY(x) (x)
#define VOK_UNLIKELY(x) (x)
#endif
