// A shared library loaded before the program (LD_PRELOAD) that stands in for libm's sin and
// returns a wrong value once: at the KELVARION_SIN_FAULT_CALL-th call made by the program's
// own code (calls from the libraries it uses are not counted), it returns sin(x) + 0.5 and
// writes "CALL PROCESSOR ARGUMENT" to the file KELVARION_SIN_FAULT_REPORT. Every other call
// returns libm's own value.
#include <dlfcn.h>
#include <link.h>
#include <sched.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using Sin = double (*)(double);

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
  Sin real = nullptr;
  Range program;
  long long at = -1, calls = 0;
  const char* report = nullptr;
  State() {
    real = reinterpret_cast<Sin>(dlsym(RTLD_NEXT, "sin"));
    dl_iterate_phdr(&FindProgram, &program);
    if (const char* n = std::getenv("KELVARION_SIN_FAULT_CALL")) at = std::atoll(n);
    report = std::getenv("KELVARION_SIN_FAULT_REPORT");
  }
};

State& TheState() {
  static State state;
  return state;
}

}  // namespace

extern "C" double sin(double x) {
  State& s = TheState();
  const double r = s.real(x);
  const auto caller = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  if (caller < s.program.begin || caller >= s.program.end) return r;
  if (++s.calls != s.at) return r;
  if (s.report) {
    if (std::FILE* f = std::fopen(s.report, "w")) {
      std::fprintf(f, "%lld %d %.17g\n", s.calls, sched_getcpu(), x);
      std::fclose(f);
    }
  }
  return r + 0.5;
}
