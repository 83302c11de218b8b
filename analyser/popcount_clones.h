// Counting the bits of a word is one instruction on every x86-64 processor
// made since about 2008, but not in the baseline instruction set the
// compiler targets by default, where std::popcount becomes a library call.
// POPCOUNT_CLONES before a function that counts bits in its inner loops
// builds it twice, with and without the instruction; the program picks the
// one the processor supports when it is loaded.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__POPCNT__)
#define POPCOUNT_CLONES __attribute__((target_clones("popcnt", "default")))
#else
#define POPCOUNT_CLONES
#endif
