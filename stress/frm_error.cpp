#include "stress/frm_error.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace kelvarion {

const FormLayout& frmError::Layout() {
  // The layout reads as a table.
  // clang-format off
  // What to do comes first; the processors, whose sentence is the longest on a large machine,
  // come last, where the room it leaves in the common case lies above OK.
  static const FormLayout layout{
      "Computation Error", 5700, 4695, Frame::Dialog, nullptr,
      {
          // name             kind                      caption  left   top  width height tab style
          {"cmdOK",          ControlKind::PushButton, "OK",     2235, 4200, 1215, 375,  7, kStyleNone},
          {"lblProcessors",  ControlKind::Label,      "",       120,  3300, 5460, 795,  6, kStyleNone},
          {"lblCount",       ControlKind::Label,      "",       120,  2835, 5460, 405,  5, kStyleNone},
          {"lblTime",        ControlKind::Label,      "",       120,  2370, 5460, 405,  4, kStyleNone},
          {"lblVerdict",     ControlKind::Label,      "",       120,  1710, 5460, 600,  3, kStyleNone},
          {"lblDetails",     ControlKind::Label,      "",       120,  1245, 5460, 405,  2, kStyleNone},
          {"lblImage",       ControlKind::Label,      "",       120,  780,  5460, 405,  1, kStyleNone},
          {"lblAdvice",      ControlKind::Label,      "",       120,  120,  5460, 600,  0, kStyleNone},
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
  skip(lblAdvice.SetCaption(text.advice));
  skip(lblImage.SetCaption(text.image));
  skip(lblDetails.SetCaption(text.details));
  skip(lblVerdict.SetCaption(text.verdict));
  skip(lblTime.SetCaption(text.time));
  skip(lblCount.SetCaption(text.count));
  skip(lblProcessors.SetCaption(text.processors));
  if (opening) skip(ShowBeside(testWindow));
}

void frmError::cmdOK_Click() {
  Unload();
}

namespace {

std::string Count(long n, const char* one, const char* many) {
  return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

const char* FunctionName(char f) {
  return f == 'a' ? "arctangent" : f == 's' ? "sine" : "logarithm";
}
const char* FunctionSymbol(char f) {
  return f == 'a' ? "atan" : f == 's' ? "sin" : "log";
}

std::string Hex64(std::uint64_t x) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(x));
  return text;
}

}  // namespace

std::string HexDouble(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  const bool negative = u >> 63;
  const int biased = static_cast<int>(u >> 52 & 0x7FF);
  std::uint64_t mantissa = u & 0xFFFFFFFFFFFFFull;
  if (biased == 0x7FF) return mantissa ? "nan" : negative ? "-inf" : "inf";
  std::string s = negative ? "-0x" : "0x";
  s += biased == 0 ? '0' : '1';
  if (mantissa) {
    s += '.';
    for (int digit = 12; digit >= 0 && mantissa; --digit) {
      s += "0123456789abcdef"[mantissa >> (4 * digit) & 0xF];
      mantissa &= (std::uint64_t{1} << (4 * digit)) - 1;
    }
  }
  const int exponent = biased == 0 ? (u << 1 == 0 ? 0 : -1022) : biased - 1023;
  return s + 'p' + (exponent < 0 ? "-" : "+") + std::to_string(exponent < 0 ? -exponent : exponent);
}

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
  static const topology::Description kNumbersOnly;
  const topology::Description& places = r.topology ? *r.topology : kNumbersOnly;
  const auto processor = [&](int p) { return topology::Name(places, p); };
  ErrorSentences t;
  const std::string pass = std::to_string(r.pass);
  const std::string image = "Image " + std::to_string(r.image) + " (" + Caption(r.kind) +
                            ", order " + std::to_string(r.order) + ")";
  const std::string notHeld =
      r.held ? ""
             : " The test could not hold its thread to one processor: each drawing is named by "
               "where it ended.";
  switch (r.finding) {
    case ErrorReport::Finding::Disagreement: {
      const maths::Disagreement& d = r.disagreement;
      const std::string name = FunctionName(d.function);
      t.image = image + ", pass " + pass + ": the C library and the program disagreed on " +
                (d.function == 'a' ? "an " : "a ") + name + '.';
      t.details = std::string(FunctionSymbol(d.function)) + '(' + HexDouble(d.argument) +
                  "): C library " + HexDouble(d.library) + ", program " + HexDouble(d.own) + '.';
      t.processors = "It was computed on " + processor(r.processor) + '.' + notHeld;
      const std::string again = "Computed again another way, the value ";
      if (d.libraryWrong && !d.ownWrong)
        t.verdict = again + "agreed with the program's: the processor got the C library's " + name +
                    " wrong.";
      else if (d.ownWrong && !d.libraryWrong)
        t.verdict = again + "agreed with the C library's: the processor got the program's own " +
                    name + " wrong.";
      else
        t.verdict = again + "was " + HexDouble(d.further) +
                    ", neither of the two: the processor got both wrong.";
      break;
    }
    case ErrorReport::Finding::KnownAnswer:
      t.image = image + " came out different in pass " + pass + " from its known answer.";
      t.details =
          "The checksum of its values was " + Hex64(r.sum) + " instead of " + Hex64(r.known) + '.';
      t.processors = "It was drawn on " + processor(r.processor) + '.' + notHeld;
      t.verdict = "Every correct processor computes the known answer: this drawing was wrong.";
      break;
    case ErrorReport::Finding::FirstDrawing: {
      const std::string firstPass = std::to_string(r.firstPass);
      t.image = image + " came out different in pass " + pass +
                " from its first drawing, in pass " + firstPass + '.';
      t.details = r.libraryOnly
                      ? "Only the C library's results differed; the program's own values and the "
                        "colours were the same."
                  : r.coloursDiffer ? "The program's values differed, and so did the colours."
                                    : "The program's values differed; the colours were the same.";
      if (r.processor >= 0 && r.processor == r.firstProcessor)
        t.processors = "It was drawn on " + processor(r.processor) + ", as was its first drawing.";
      else
        t.processors = "It was drawn on " + processor(r.processor) +
                       "; its first drawing was made on " + processor(r.firstProcessor) + '.';
      t.processors += notHeld;
      const std::string further = "A further drawing, in pass " + std::to_string(r.decidingPass) +
                                  " on " + processor(r.decidingProcessor) + ", ";
      const std::string again =
          r.decided == ErrorReport::Decided::OtherCore
              ? "Drawn again on " + processor(r.decidingProcessor) + ", another core, it "
              : "Drawn again on both processors, it ";
      const std::string exactly =
          "Drawn again on both processors, it still differed; computed exactly, point (" +
          std::to_string(r.pointX) + ", " + std::to_string(r.pointY) + ") ";
      const bool next = r.decided == ErrorReport::Decided::NextDrawing;
      const bool exact = r.decided == ErrorReport::Decided::Exactly;
      switch (r.verdict) {
        case ErrorReport::Verdict::Open:
          t.verdict =
              "One of the two drawings is wrong; the next drawing of this image will show which.";
          break;
        case ErrorReport::Verdict::LaterWrong:
          t.verdict =
              next ? further + "agreed with the first: the drawing of pass " + pass + " was wrong."
              : exact ? exactly + "was wrong on " + processor(r.processor) + '.'
                      : again + "came out as in pass " + firstPass + ": the drawing of pass " +
                            pass + " was wrong.";
          break;
        case ErrorReport::Verdict::FirstWrong:
          t.verdict =
              next ? further + "agreed with the one of pass " + pass +
                         ": the first drawing was wrong."
              : exact ? exactly + "was wrong on " + processor(r.firstProcessor) + '.'
                      : again + "came out as in pass " + pass + ": the first drawing was wrong.";
          break;
        case ErrorReport::Verdict::BothWrong:
          t.verdict =
              "Drawn again on both processors, it still differed; computed exactly, both "
              "processors got values wrong.";
          break;
        case ErrorReport::Verdict::CannotTell:
          t.verdict = std::string(
                          "The two processors disagree, and nothing here can tell which "
                          "of them is wrong") +
                      (r.unmoved ? ": the test could not move its thread to draw it again."
                                 : '.' + std::string());
          break;
      }
      break;
    }
  }
  t.time = "It was found at " + r.time + ", " + DurationText(r.afterNs) + " after the test began.";
  t.count = "The test started on " + r.testStart + " has found " +
            Count(r.errors, "error", "errors") + " so far.";
  const std::string never = "A stable processor never shows this window: ";
  const std::vector<int> blamed = Blamed(r);
  const bool undecided =
      r.finding == ErrorReport::Finding::FirstDrawing && r.held && r.processor != r.firstProcessor;
  if (blamed.size() == 1)
    t.advice = never + "lower the clock of " + topology::CoreName(places, blamed[0]) +
               ", or raise its voltage, then test again.";
  else if (blamed.size() == 2)  // both cores, named with their processors below
    t.advice = never +
               "both processors named below erred: lower the clock of each of their cores, or "
               "raise its voltage, then test again.";
  else if (undecided && r.verdict == ErrorReport::Verdict::Open)
    t.advice = never +
               "once the next drawing has shown which core made the error, lower its clock or "
               "raise its voltage, then test again.";
  else if (undecided && r.verdict == ErrorReport::Verdict::CannotTell)
    t.advice = never +
               "one of the two processors named below is wrong; lower the clock of one core at a "
               "time, or raise its voltage, and test again to find which.";
  else
    t.advice = never +
               "lower the clock of the core that made the error or raise its voltage, then test "
               "again.";
  return t;
}

}  // namespace kelvarion
