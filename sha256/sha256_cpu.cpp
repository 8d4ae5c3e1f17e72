/* Which compression paths this CPU runs, from CPUID: the instructions each
 * path uses and, for the AVX2 one, whether the operating system saves the
 * YMM registers, without which a thread switch would lose their upper
 * halves. */
#include <cpuid.h>
#include <immintrin.h>

#include "sha256_internal.h"

/* XCR0: the XMM registers (bit 1) and the upper halves of the YMM ones (bit 2). */
enum { XCR0_SSE_AND_AVX = 6 };

static int has_all(unsigned int word, unsigned int bits) { return (word & bits) == bits; }

/* Only where CPUID reports OSXSAVE (the system has enabled XGETBV): elsewhere
 * XGETBV faults. */
__attribute__((target("xsave"))) static int os_saves_ymm(void)
{
    return has_all((unsigned int)_xgetbv(0), XCR0_SSE_AND_AVX);
}

/* bit_* name CPUID's bits: leaf 1 ECX for SSSE3, SSE4.1, OSXSAVE and AVX,
 * leaf 7 EBX for BMI1 (ANDN), AVX2, BMI2 (RORX) and SHA. */
int sha256_cpu_runs(int path)
{
    unsigned int eax, ebx, leaf1_ecx, ecx, edx;
    if (path == SHA256_PORTABLE)
        return 1;
    if (!__get_cpuid(1, &eax, &ebx, &leaf1_ecx, &edx) || !__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return 0;
    if (path == SHA256_SHA_EXTENSIONS)
        return has_all(leaf1_ecx, bit_SSSE3 | bit_SSE4_1) && has_all(ebx, bit_SHA);
    return path == SHA256_AVX2 && has_all(leaf1_ecx, bit_OSXSAVE | bit_AVX) && os_saves_ymm() &&
           has_all(ebx, bit_BMI | bit_AVX2 | bit_BMI2);
}
