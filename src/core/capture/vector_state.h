#pragma once

namespace qarsilo {

/// Clears the upper halves of the AVX registers. A thread starts from its
/// parent's register state, and some of Qt's wide vector code (the GUI
/// application's start, hashing a QString) leaves them in use; until they are
/// cleared every SSE instruction of libc's and libpcap's copies on the capture
/// thread pays for the mixed state (the reading ran 2-9x slower). One
/// instruction; the capture thread runs it at its start and after each frame's
/// handler.
inline void clearUpperVectorState() noexcept {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx)
        asm volatile("vzeroupper" ::: "memory");
#endif
}

} // namespace qarsilo
