// Symbol visibility of the document core. The library is built with every symbol hidden;
// what a program may call is marked TREELARK_CORE_EXPORT, so the library's exported
// symbols are its interface and nothing else can be linked to by accident.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define TREELARK_CORE_EXPORT __attribute__((visibility("default")))
#define TREELARK_CORE_NO_EXPORT __attribute__((visibility("hidden")))
#else
#define TREELARK_CORE_EXPORT
#define TREELARK_CORE_NO_EXPORT
#endif
