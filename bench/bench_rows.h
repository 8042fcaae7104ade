#pragma once
// Row names: every row is registered here as work/case/impl.
//   work  the library call or family measured (doResampler, realFft, ...)
//   case  its parameters (1024, 44100-48000, stereo, ...), no slash
//   impl  "dspfx", or "dspfx-<variant>" when the library runs one case in
//         several ways, for the library; the peer's short name otherwise
// One iteration of a library row and of the peer rows of the same work and
// case does the same work, so their times per iteration compare directly.
// scripts/bench-report.py pairs rows by exactly this rule and holds the
// targets, keyed by work and peer.
#include <benchmark/benchmark.h>

#include <string>
#include <utility>

#include "dspfx/dspfx.h"

namespace dspfx::bench {

template <class Fn>
benchmark::internal::Benchmark* row(const std::string& work, const std::string& kase,
                                    const std::string& impl, Fn&& fn) {
  return benchmark::RegisterBenchmark((work + "/" + kase + "/" + impl).c_str(), std::forward<Fn>(fn));
}

// A peer row that could not be built: it shows in the output and the report
// as skipped, with the reason.
inline void missingPeer(const std::string& work, const std::string& kase, const std::string& impl,
                        const char* reason) {
  row(work, kase, impl, [reason](benchmark::State& state) { state.SkipWithError(reason); });
}

// The library rows run with every processor switch on, as a host that
// allows them would; a row that measures one form selects it and calls this
// again when done.
inline void enableAllForms() {
  dspEnableMmx(1);
  dspEnable3dnow(1);
  dspEnableSse(1);
}

// The scalar forms define the library's results (the SIMD ones may round
// differently), so a check that a peer computes the same thing uses them.
inline void scalarFormsOnly() {
  dspEnableMmx(0);
  dspEnable3dnow(0);
  dspEnableSse(0);
}

}  // namespace dspfx::bench
