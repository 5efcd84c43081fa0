#pragma once
// The floating-point status the kernel relies on: the sticky overflow, division-by-zero and
// invalid-operation flags. On x86-64 they are read straight from the SSE status register
// (a few cycles), not through <fenv.h>, whose calls save and reload the x87 environment and
// cost hundreds of cycles. The flags are cleared only after a failure and whenever toolkit
// code has run, so between two of the kernel's own tests only the kernel's arithmetic counts.
//
// And the mode the kernel computes in, the program's own: round to nearest, no flush-to-zero,
// every exception masked. Other code in the process (an overlay or hook library, a driver's
// helper, a screen reader's hook) may change the control words on the program's thread, and
// it runs there only inside the toolkit's calls; so the mode is set when a test starts and
// restored after every pump, before the kernel computes again. Otherwise a healthy processor
// would draw different images, and be blamed for it.

#include <cmath>
#include <cstdint>

#include "services/status.h"

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#define KELVARION_FP_SSE 1
#include <immintrin.h>
#else
#include <cfenv>
#include <cmath>
#endif

namespace kelvarion::fp {

#if KELVARION_FP_SSE
// MXCSR exception flags: invalid (bit 0), divide-by-zero (bit 2), overflow (bit 3).
inline constexpr unsigned kFailureFlags = 0x01u | 0x04u | 0x08u;

inline bool Raised() {
  unsigned csr;
  asm volatile("stmxcsr %0" : "=m"(csr));
  return (csr & kFailureFlags) != 0;
}

inline void Clear() {
  unsigned csr;
  asm volatile("stmxcsr %0" : "=m"(csr));
  csr &= ~0x3Fu;  // all six sticky flags; the masks and rounding mode stay as they are
  asm volatile("ldmxcsr %0" : : "m"(csr));
}

// The program's SSE mode: the six exceptions masked (bits 7 to 12), round to nearest (13 and 14
// clear), no flush-to-zero (15) nor denormals-are-zero (6). And the x87 unit's, where library
// functions may compute: exceptions masked, round to nearest, with each platform's precision
// (53 bits on Windows, its convention; 64 on Linux, the System V ABI's).
inline constexpr unsigned kProgramCsr = 0x1F80u;
#if defined(_WIN32)
inline constexpr unsigned short kProgramX87 = 0x027F;
#else
inline constexpr unsigned short kProgramX87 = 0x037F;
#endif
inline constexpr unsigned short kX87Mode = 0x0F3F;  // masks, precision and rounding

// Sets the program's mode, every flag clear: when a test starts.
inline void UseProgramMode() {
  const unsigned csr = kProgramCsr;
  const unsigned short cw = kProgramX87;
  asm volatile("ldmxcsr %0" : : "m"(csr));
  asm volatile("fnclex\n\tfldcw %0" : : "m"(cw));
}

// Back from other code: the program's mode again, and the failure flags clear. Reading the
// control words costs a few cycles, writing them more: each is written only when it differs.
inline void RestoreProgramMode() {
  unsigned csr;
  asm volatile("stmxcsr %0" : "=m"(csr));
  if ((csr & ~0x3Fu) != kProgramCsr || (csr & kFailureFlags) != 0) {
    const unsigned mode = kProgramCsr;  // and all six flags clear
    asm volatile("ldmxcsr %0" : : "m"(mode));
  }
  unsigned short cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  if ((cw & kX87Mode) != (kProgramX87 & kX87Mode)) {
    const unsigned short mode = kProgramX87;
    asm volatile("fldcw %0" : : "m"(mode));
  }
}

// The same, and the x87 unit's flags too: a library function may compute there (mingw-w64's
// sine and logarithm do), and its flags would stay set in the x87 status word.
inline void ClearAll() {
  Clear();
  asm volatile("fnclex");
}

// Toolkit code (text shaping, the C library's vector copies) can leave the upper halves of the
// AVX registers in use. Until they are cleared, some processors run every SSE instruction of
// the kernel slower: measured on an AMD Zen 5, the kernel ran 7 % slower after each repaint of
// the labels. vzeroupper exists only where AVX does; the values the compiler keeps in vector
// registers are declared clobbered, so none can live across it.
inline void ClearUpperVectors() {
  static const bool avx = __builtin_cpu_supports("avx");
  if (avx)
#if defined(__x86_64__)
    asm volatile("vzeroupper" ::
                     : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",
                       "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
#else  // 32-bit x86 (built with SSE2) has eight vector registers
    asm volatile("vzeroupper" ::: "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7");
#endif
}

// Makes the compiler finish computing `value` here: the empty asm uses and redefines it, and
// being volatile it stays in order with the status reads around it, so no operation whose
// status is tested can move past the test, be folded into another or be hoisted.
template <class T>
inline void Settle(T& value) {
  asm volatile("" : "+x"(value));
}

// Rounds to the nearest integer, halves to even (the default rounding mode), and fails when
// the result does not fit 32 bits. Exactly the doubles in [-2^31 - 0.5, 2^31 - 0.5) round
// into range (-2^31 - 0.5 goes to the even -2^31, 2^31 - 0.5 to 2^31). The range is checked
// with quiet comparisons first, so a failure (a skipped point) raises no flag, leaves nothing
// to clear and costs what a success costs.
inline Status RoundToInt32(double value, std::int32_t& out) {
  if (!(__builtin_isgreaterequal(value, -2147483648.5) && __builtin_isless(value, 2147483647.5)))
    return Status::Failed();
  out = _mm_cvtsd_si32(_mm_set_sd(value));
  return Status::Ok();
}
#else
inline void ClearUpperVectors() {}
inline bool Raised() {
  return std::fetestexcept(FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID) != 0;
}
inline void Clear() {
  std::feclearexcept(FE_ALL_EXCEPT);
}
inline void ClearAll() {
  Clear();
}
inline void UseProgramMode() {
  std::fesetround(FE_TONEAREST);
  Clear();
}
inline void RestoreProgramMode() {
  if (std::fegetround() != FE_TONEAREST) std::fesetround(FE_TONEAREST);
  if (Raised()) Clear();
}
template <class T>
inline void Settle(T& value) {
  volatile T v = value;
  value = v;
}
inline Status RoundToInt32(double value, std::int32_t& out) {
  const double r = std::nearbyint(value);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) {
    Clear();
    return Status::Failed();
  }
  out = static_cast<std::int32_t>(r);
  return Status::Ok();
}
#endif

// A status test: fails, and clears the flags for the next statement, when one is set.
inline Status Test() {
  if (Raised()) {
    Clear();
    return Status::Failed();
  }
  return Status::Ok();
}

// The status test after an operation (or a short chain of them) that produced `result`,
// starting with the three flags clear. In round-to-nearest, which the program never changes,
// an overflow or a division by zero gives an infinity and an invalid operation a NaN, and
// both carry through the rest of a chain (x - inf, inf * 0, NaN * x); so a finite result
// proves that none of the three was raised and the register need not be read. Reading it
// costs several nanoseconds on some processors, eight times a point. A non-finite result
// reads it, because that may be exact (infinity times 2 raises nothing) or not.
inline Status Test(double result) {
  if (std::isfinite(result)) return Status::Ok();
  return Test();
}

// Back from toolkit code to the kernel: nothing the toolkit computed or set may count as the
// kernel's failure, change its results, or slow it down.
inline void AfterToolkit() {
  RestoreProgramMode();
  ClearUpperVectors();
}

}  // namespace kelvarion::fp
