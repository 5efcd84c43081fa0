#include "stress/frm_error.h"

namespace kelvarion {

const FormLayout& frmError::Layout() {
  // The layout reads as a table.
  // clang-format off
  static const FormLayout layout{
      "Computation Error", 5400, 3570, Frame::Dialog, nullptr,
      {
          // name             kind                      caption  left   top  width height tab style
          {"cmdOK",          ControlKind::PushButton, "OK",     2085, 3075, 1215, 375,  5, kStyleNone},
          {"lblCount",       ControlKind::Label,      "",       120,  2370, 5160, 600,  4, kStyleNone},
          {"lblTime",        ControlKind::Label,      "",       120,  1905, 5160, 405,  3, kStyleNone},
          {"lblVerdict",     ControlKind::Label,      "",       120,  1245, 5160, 600,  2, kStyleNone},
          {"lblProcessors",  ControlKind::Label,      "",       120,  585,  5160, 600,  1, kStyleNone},
          {"lblImage",       ControlKind::Label,      "",       120,  120,  5160, 405,  0, kStyleNone},
      }};
  // clang-format on
  return layout;
}

frmError& frmError::Instance() {
  static auto* instance = new frmError;  // lives as long as the program
  return *instance;
}

void frmError::Tell(const ErrorReport& report, const Form& testWindow) {
  const ErrorSentences text = Sentences(report);
  const bool opening = !IsLoaded();
  if (opening && !Load()) return;
  const SkipRule skip;
  skip(lblImage.SetCaption(text.image));
  skip(lblProcessors.SetCaption(text.processors));
  skip(lblVerdict.SetCaption(text.verdict));
  skip(lblTime.SetCaption(text.time));
  skip(lblCount.SetCaption(text.count));
  if (opening) skip(ShowBeside(testWindow));
}

void frmError::cmdOK_Click() {
  Unload();
}

namespace {

std::string Count(long n, const char* one, const char* many) {
  return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

std::string Processor(int p) {
  return p >= 0 ? "logical processor " + std::to_string(p)
                : std::string("a logical processor the system did not name");
}

}  // namespace

std::string DurationText(std::int64_t ns) {
  const std::int64_t s = ns / 1'000'000'000;
  std::string parts[3];
  int n = 0;
  if (s >= 3600) parts[n++] = Count(static_cast<long>(s / 3600), "hour", "hours");
  if (s / 60 % 60) parts[n++] = Count(static_cast<long>(s / 60 % 60), "minute", "minutes");
  if (s % 60) parts[n++] = Count(static_cast<long>(s % 60), "second", "seconds");
  if (n == 0) return "less than a second";
  if (n == 1) return parts[0];
  if (n == 2) return parts[0] + " and " + parts[1];
  return parts[0] + ", " + parts[1] + " and " + parts[2];
}

ErrorSentences Sentences(const ErrorReport& r) {
  ErrorSentences t;
  const std::string pass = std::to_string(r.pass), firstPass = std::to_string(r.firstPass);
  t.image = "Image " + std::to_string(r.image) + " (" + Caption(r.kind) + ", order " +
            std::to_string(r.order) + ") came out different in pass " + pass +
            " from its first drawing, in pass " + firstPass + ".";
  if (r.processor >= 0 && r.processor == r.firstProcessor)
    t.processors = "It was drawn on " + Processor(r.processor) + ", as was its first drawing.";
  else
    t.processors = "It was drawn on " + Processor(r.processor) +
                   "; its first drawing was made on " + Processor(r.firstProcessor) + ".";
  if (!r.held)
    t.processors +=
        " The test could not hold its thread to one processor: each drawing is named by the "
        "processor it ended on.";
  const std::string further = "A further drawing, in pass " + std::to_string(r.decidingPass) +
                              " on " + Processor(r.decidingProcessor) + ", ";
  switch (r.verdict) {
    case ErrorReport::Verdict::Open:
      t.verdict =
          "One of the two drawings is wrong; the next drawing of this image will show which.";
      break;
    case ErrorReport::Verdict::LaterWrong:
      t.verdict = further + "agreed with the first: the drawing of pass " + pass + ", made on " +
                  Processor(r.processor) + ", was wrong.";
      break;
    case ErrorReport::Verdict::FirstWrong:
      t.verdict = further + "agreed with the one of pass " + pass +
                  ": the first drawing, made on " + Processor(r.firstProcessor) + ", was wrong.";
      break;
  }
  t.time = "It was found at " + r.time + ", " + DurationText(r.afterNs) + " after the test began.";
  t.count = "The test started on " + r.testStart + " has found " +
            Count(r.errors, "error", "errors") +
            " so far. A processor that makes even one error is not stable.";
  return t;
}

}  // namespace kelvarion
