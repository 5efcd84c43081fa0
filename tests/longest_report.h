#pragma once
// The longest sentences the error window's labels can be given, written once for every
// backend: a long test on a large machine of several sockets and dies, where every drawing
// was named by an unsure processor, whatever showed the error.

#include <utility>
#include <vector>

#include "services/topology.h"
#include "stress/frm_error.h"

namespace kelvarion::longest {

// Calls fit(label name, its text) for each label of the window, in each case it can be in.
template <class Fit>
void EachSentence(Fit&& fit) {
  // 16 processor groups (Windows' words, the longer), 16 sockets of 4 dies of 8 cores of two
  // threads; a hybrid part, so that each core's kind is named too.
  std::vector<topology::CoreRecord> cores;
  for (int c = 0; c < 512; ++c)
    cores.push_back({c / 32, c / 8, c == 0 ? 1 : 0, {2 * c, 2 * c + 1}});
  const topology::Description big = topology::FromCores(cores, topology::Words::Windows);
  ErrorReport r;
  r.topology = &big;
  r.image = 123456789;
  r.order = 80;
  r.kind = Kind::Logarithmic;
  r.pass = 520890;
  r.firstPass = 520889;
  r.processor = 1023;
  r.firstProcessor = 1022;
  r.held = false;
  r.time = "12/31/2099 11:59:59 PM";
  r.testStart = r.time;
  r.afterNs = (99'999LL * 3600 + 59 * 60 + 59) * 1'000'000'000;
  r.errors = 123456789;
  r.disagreement = {'l',
                    -0x1.fffffffffffffp-1022,
                    -0x1.fffffffffffffp+1023,
                    -0x1.fffffffffffffp+1023,
                    -0x1.fffffffffffffp+1023,
                    true,
                    true};
  r.sum = r.known = ~0ull;
  r.decidingPass = 520891;
  r.decidingProcessor = 1021;
  for (const auto finding : {ErrorReport::Finding::Disagreement, ErrorReport::Finding::KnownAnswer,
                             ErrorReport::Finding::FirstDrawing})
    for (const auto verdict : {ErrorReport::Verdict::Open, ErrorReport::Verdict::LaterWrong,
                               ErrorReport::Verdict::FirstWrong, ErrorReport::Verdict::BothWrong,
                               ErrorReport::Verdict::CannotTell})
      for (const int decided : {0, 1, 2, 3})
        for (const bool libraryOnly : {false, true}) {
          r.finding = finding;
          r.verdict = verdict;
          r.decided = static_cast<ErrorReport::Decided>(decided);
          r.held = decided != 3;  // cannot tell: the advice that names no core
          r.unmoved = true;
          r.pointX = 1246;
          r.pointY = 1006;
          r.libraryOnly = libraryOnly;
          const ErrorSentences t = Sentences(r);
          const std::pair<const char*, const std::string*> labels[] = {
              {"lblImage", &t.image},
              {"lblDetails", &t.details},
              {"lblProcessors", &t.processors},
              {"lblVerdict", &t.verdict},
              {"lblTime", &t.time},
              {"lblCount", &t.count},
              {"lblAdvice", &t.advice}};
          for (const auto& [name, text] : labels) fit(name, *text);
        }
}

}  // namespace kelvarion::longest
