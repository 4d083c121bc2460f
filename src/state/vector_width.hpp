// The width the vectorised kernels are written for: doubles in one vector register of the
// machine the build is for (8 with AVX-512, 4 with AVX, else 2). A vector wider than the
// registers would be split by the compiler through memory.
#pragma once

namespace korvex {

#if defined(__AVX512F__)
inline constexpr int kVectorDoubles = 8;
#elif defined(__AVX__)
inline constexpr int kVectorDoubles = 4;
#else
inline constexpr int kVectorDoubles = 2;
#endif

} // namespace korvex
