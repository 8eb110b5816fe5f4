#include "base/VectorState.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

namespace corvex {

namespace {

__attribute__((target("avx"))) void zeroUpperHalves() { _mm256_zeroupper(); }

} // namespace

void clearUpperVectorState()
{
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx)
        zeroUpperHalves();
}

} // namespace corvex

#else

namespace corvex {

void clearUpperVectorState() { }

} // namespace corvex

#endif
