#pragma once
// The crash, load and growth runs of the stress program. Each prints its
// figures to out (and in Markdown to report when given) and returns the
// number of failed checks, -1 when it could not be set up.
#include <ostream>
#include <string>
#include <vector>

// SIGKILLs a job `kills` times at random points (seeded), spread over every
// operation of the life cycle, on an array that also holds decoys (other
// jobs' and hosts' objects; more are planted after each kill at ids the
// killed job had recorded but not created); after each kill: no process of
// the job is left, no live holder or held named lock, the next job (the
// killed operation again, or the rest of the life cycle when it had ended
// before the kill, from the host's record of the devices) succeeds, and no
// decoy is touched. Counts what each kill left on the array, what still
// needs an administrator after the next job, and the intent records kept.
int zrRunCrashes(const std::string& dir, int kills, unsigned seed, const std::string& report,
                 std::ostream& out);

// procs processes each run `cycles` life cycles of 4 devices of their own
// on one array; 0 failures and 0 leaks, and the wall time against the
// summed time spent inside the machine-wide locks (goal: at most 1.5x).
int zrRunLoad(const std::string& dir, int procs, int cycles, const std::string& report,
              std::ostream& out);

// One life cycle at each size (devices): commands per device of each
// operation from the simulator's journal, and the wall time. The count per
// device at the largest size is at most 1.1x the one at the next size.
int zrRunGrowth(const std::string& dir, const std::vector<int>& sizes, const std::string& report,
                std::ostream& out);
