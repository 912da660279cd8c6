#pragma once

// What the processor running the program offers beyond the x86-64 baseline
// the build targets, asked once: the image loops that use more check here.
// False on other architectures.

// AVX2, for 32 bytes at a time.
bool has_avx2();

// AVX-512's byte permutes (AVX512F, AVX512BW and AVX512VBMI): a 256-byte
// look-up table in four registers.
bool has_byte_permutes();
