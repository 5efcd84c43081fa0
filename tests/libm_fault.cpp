// A shared library loaded before the program (LD_PRELOAD) that stands in for libm's atan, sin
// and log and makes one of their results wrong in one bit, as a flaky processor might: at the
// CALL-th call of the function made by the program's own code (calls from the libraries it uses
// are not counted), bit BIT (0 to 63) of the result is flipped. Every other call returns libm's
// own value.
//
// Or, as a core that gets certain operands wrong every time it meets them would: bit BIT of the
// result whenever the argument is one of about one in PERIOD, picked by its bits, and only while
// the thread runs on logical processor CPU (-1: on any).
//
// Armed either from the environment, counting from the program's start:
//   KELVARION_LIBM_FAULT="FUNCTION CALL BIT"   FUNCTION a, s or l
//   KELVARION_LIBM_FAULT="FUNCTION @PERIOD BIT CPU"
//   KELVARION_LIBM_FAULT_REPORT=FILE  receives "CALL PROCESSOR ARGUMENT RIGHT WRONG" when made
//                                     (the first time, for a pattern)
//   KELVARION_LIBM_ROUNDING=CALLS  once the program has made CALLS calls of the three, the next
//                                  poll() on its main thread (inside the toolkit's event
//                                  processing) sets the rounding mode toward zero, as a hook
//                                  library loaded into the process might; KELVARION_LIBM_FAULT_
//                                  REPORT then receives "rounding CALLS"
// or by a test in the same process, through entry points it finds with dlsym:
//   kelvarion_libm_fault_arm(function, call, bit)   counting from now; call 0 disarms
//                                                   and keeps the record of the last fault
//   kelvarion_libm_fault_made(&argument, &right, &wrong, &processor)  1 once the fault is made
//   kelvarion_libm_fault_pattern(function, period, bit, cpu, current)  the pattern; period 0
//                                     disarms; `current` tells the processor (null: the system)
#include <dlfcn.h>
#include <fenv.h>
#include <link.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Function = double (*)(double);

struct Range {
  std::uintptr_t begin = 0, end = 0;
};

// The executable parts of the program itself: the first object dl_iterate_phdr reports.
int FindProgram(dl_phdr_info* info, std::size_t, void* data) {
  auto* range = static_cast<Range*>(data);
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& p = info->dlpi_phdr[i];
    if (p.p_type != PT_LOAD || !(p.p_flags & PF_X)) continue;
    range->begin = info->dlpi_addr + p.p_vaddr;
    range->end = range->begin + p.p_memsz;
  }
  return 1;  // the program comes first: stop there
}

struct State {
  Function atan = nullptr, sin = nullptr, log = nullptr;
  Range program;
  char function = 0;
  long long at = 0, calls = 0, all = 0, roundingAt = 0;
  int bit = 0;
  bool made = false;
  double argument = 0, right = 0, wrong = 0;
  int processor = -1;
  const char* report = nullptr;
  unsigned long period = 0;  // a pattern's
  int cpu = -1;
  int (*current)() = nullptr;
  State() {
    atan = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "atan"));
    sin = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "sin"));
    log = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "log"));
    dl_iterate_phdr(&FindProgram, &program);
    if (const char* f = std::getenv("KELVARION_LIBM_FAULT")) {
      if (std::sscanf(f, " %c @%lu %d %d", &function, &period, &bit, &cpu) != 4)
        std::sscanf(f, " %c %lld %d", &function, &at, &bit), period = 0;
    }
    report = std::getenv("KELVARION_LIBM_FAULT_REPORT");
    if (const char* r = std::getenv("KELVARION_LIBM_ROUNDING")) roundingAt = std::atoll(r);
  }
};

State& TheState() {
  static State state;
  return state;
}

// Whether the pattern takes argument x: about one in `period`, by its bits.
bool Picked(double x, unsigned long period) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return (u * 0x9E3779B97F4A7C15u >> 40) % period == 0;
}

double Call(char function, Function real, double x, const void* caller) {
  State& s = TheState();
  const double r = real(x);
  const auto from = reinterpret_cast<std::uintptr_t>(caller);
  if (from < s.program.begin || from >= s.program.end) return r;
  ++s.all;
  if (function != s.function) return r;
  if (s.period > 0) {
    if (!Picked(x, s.period)) return r;
    if (s.cpu >= 0 && (s.current ? s.current() : sched_getcpu()) != s.cpu) return r;
    ++s.calls;
    if (s.made) {  // told once
      std::uint64_t u;
      std::memcpy(&u, &r, sizeof u);
      u ^= std::uint64_t{1} << s.bit;
      double wrong;
      std::memcpy(&wrong, &u, sizeof wrong);
      return wrong;
    }
  } else if (s.at <= 0 || ++s.calls != s.at) {
    return r;
  }
  std::uint64_t u;
  std::memcpy(&u, &r, sizeof u);
  u ^= std::uint64_t{1} << s.bit;
  double wrong;
  std::memcpy(&wrong, &u, sizeof wrong);
  s.made = true;
  s.argument = x;
  s.right = r;
  s.wrong = wrong;
  s.processor = s.current ? s.current() : sched_getcpu();
  if (s.report) {
    if (std::FILE* f = std::fopen(s.report, "w")) {
      std::fprintf(f, "%lld %d %a %a %a\n", s.calls, s.processor, x, r, wrong);
      std::fclose(f);
    }
  }
  return wrong;
}

}  // namespace

extern "C" {

double atan(double x) {
  return Call('a', TheState().atan, x, __builtin_return_address(0));
}
double sin(double x) {
  return Call('s', TheState().sin, x, __builtin_return_address(0));
}
double log(double x) {
  return Call('l', TheState().log, x, __builtin_return_address(0));
}

int poll(pollfd* fds, nfds_t n, int timeout) {
  static const auto real =
      reinterpret_cast<int (*)(pollfd*, nfds_t, int)>(dlsym(RTLD_NEXT, "poll"));
  State& s = TheState();
  if (s.roundingAt > 0 && s.all >= s.roundingAt && gettid() == getpid()) {
    fesetround(FE_TOWARDZERO);
    if (std::FILE* f = s.report ? std::fopen(s.report, "w") : nullptr) {
      std::fprintf(f, "rounding %lld\n", s.roundingAt);
      std::fclose(f);
    }
    s.roundingAt = 0;
  }
  return real(fds, n, timeout);
}

void kelvarion_libm_fault_arm(char function, long long call, int bit) {
  State& s = TheState();
  s.function = function;
  s.at = call;
  s.bit = bit;
  s.calls = 0;
  s.period = 0;
  if (call > 0) s.made = false;  // disarming keeps what was made
}

void kelvarion_libm_fault_pattern(char function, unsigned long period, int bit, int cpu,
                                  int (*current)()) {
  State& s = TheState();
  s.function = function;
  s.period = period;
  s.bit = bit;
  s.cpu = cpu;
  s.current = current;
  s.at = s.calls = 0;
  s.made = false;
}

int kelvarion_libm_fault_made(double* argument, double* right, double* wrong, int* processor) {
  const State& s = TheState();
  if (!s.made) return 0;
  *argument = s.argument;
  *right = s.right;
  *wrong = s.wrong;
  *processor = s.processor;
  return 1;
}
}
