// zrstress: reliability and scale runs of the loaded plug-in against the
// simulator.
//   zrstress faults  [--full] [--workers N] [--kinds K,K] [--report FILE] --work DIR
//   zrstress crashes [--kills N] [--seed S] --work DIR
//   zrstress load    [--procs N] [--cycles N] --work DIR
//   zrstress growth  [--sizes 1,16,256] --work DIR
//   zrstress tamper  [--full] [--workers N] [--report FILE] --work DIR
// Each exits 0 only when every check held and the run met its goal.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "stress/ZrStressFaults.h"
#include "stress/ZrStressRuns.h"
#include "stress/ZrStressTamper.h"

namespace {

int usage() {
  std::cerr << "usage: zrstress faults [--full] [--workers N] [--kinds K,K] [--report FILE] "
               "--work DIR\n"
               "       zrstress crashes [--kills N] [--seed S] [--report FILE] --work DIR\n"
               "       zrstress load [--procs N] [--cycles N] [--report FILE] --work DIR\n"
               "       zrstress growth [--sizes 1,16,256] [--report FILE] --work DIR\n"
               "       zrstress tamper [--full] [--workers N] [--report FILE] --work DIR\n";
  return 2;
}

std::vector<int> numbers(const std::string& text) {
  std::vector<int> out;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = text.find(',', start);
    const std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!item.empty()) out.push_back(std::atoi(item.c_str()));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string what = argv[1];
  std::string work, report, kinds;
  bool full = false;
  int workers = 3, kills = 6, procs = 8, cycles = 50;
  unsigned seed = 1;
  std::vector<int> sizes = {1, 16, 256};
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--full") {
      full = true;
    } else if (a == "--work" && hasValue) {
      work = argv[++i];
    } else if (a == "--kinds" && hasValue) {
      kinds = argv[++i];
    } else if (a == "--report" && hasValue) {
      report = argv[++i];
    } else if (a == "--workers" && hasValue) {
      workers = std::atoi(argv[++i]);
    } else if (a == "--kills" && hasValue) {
      kills = std::atoi(argv[++i]);
    } else if (a == "--seed" && hasValue) {
      seed = static_cast<unsigned>(std::atoi(argv[++i]));
    } else if (a == "--procs" && hasValue) {
      procs = std::atoi(argv[++i]);
    } else if (a == "--cycles" && hasValue) {
      cycles = std::atoi(argv[++i]);
    } else if (a == "--sizes" && hasValue) {
      sizes = numbers(argv[++i]);
    } else {
      return usage();
    }
  }
  if (work.empty() || workers < 1 || procs < 1 || cycles < 1 || kills < 0 || sizes.empty())
    return usage();
  work = std::filesystem::absolute(work).lexically_normal().string();
  std::error_code ec;
  std::filesystem::remove_all(work, ec);
  std::filesystem::create_directories(work, ec);
  int failed = 0;
  if (what == "faults") {
    ZrFaultMatrixOptions o;
    o.dir = work;
    o.full = full;
    o.workers = workers;
    o.report = report;
    o.kinds = kinds;
    failed = zrRunFaultMatrix(o, std::cout);
  } else if (what == "crashes") {
    failed = zrRunCrashes(work, kills, seed, report, std::cout);
  } else if (what == "load") {
    failed = zrRunLoad(work, procs, cycles, report, std::cout);
  } else if (what == "tamper") {
    ZrTamperMatrixOptions o;
    o.dir = work;
    o.full = full;
    o.workers = workers;
    o.report = report;
    failed = zrRunTamperMatrix(o, std::cout);
  } else if (what == "growth") {
    failed = zrRunGrowth(work, sizes, report, std::cout);
  } else {
    return usage();
  }
  std::cout << (failed == 0 ? "PASSED" : "FAILED") << "\n";
  return failed == 0 ? 0 : 1;
}
