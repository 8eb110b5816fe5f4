#pragma once

namespace corvex {

// Some libraries the programs load leave the upper halves of the AVX registers in use
// (AVX code without a vzeroupper after it). While they are, the processor keeps every
// SSE instruction of ours waiting on them: the debrief of a 36,000-fix flight took 59 ms
// of CPU in `corvex` against 6 ms in a program without those libraries, the same code
// on the same fixes. The long floating-point passes (figures, scores, debrief, airspace
// check) call this first; it costs a nanosecond, and nothing on a processor without AVX.
void clearUpperVectorState();

} // namespace corvex
