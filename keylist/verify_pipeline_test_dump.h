// A dump for the verification pipeline's test, made with the generator's
// writer (whose names clash with the reader's, hence a file of its own).
#pragma once

#include <cstdint>
#include <vector>

// Keys certified by signers both before and after them in the dump, some
// certifications forged, some dated before their signer, each key with its
// self-certification.
std::vector<uint8_t> mixed_signer_dump();
