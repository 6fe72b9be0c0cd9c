#pragma once
// The queue in front of a named lock (host/ZrNamedMutex.h), shared by every
// process and thread that takes the name: a mutex of the kernel's
// priority-inheritance kind, robust and process-shared, in a small file
// beside the lock file ("<lock file>.q", 0600). A taker enters the queue,
// and the one at its head waits for the lock itself; the kernel hands the
// queue on in arrival order (equal priorities) when the head leaves it, so
// a process that has just released the lock and comes back waits behind
// those already queued instead of taking the lock again first. A release
// bumps a generation word that the head waits on (a futex), so the head
// takes the lock as soon as it is free. A holder or head that dies frees
// the queue at once (robust mutex) and the lock at once (flock); the head
// also looks again every kHolderDeathMillis, since a dying holder wakes no
// one. The queue orders; the flock alone excludes, so a queue that cannot be
// had (no file, an unreadable one) only costs the order.
//
// Thread-safety: the functions may be called from any thread.
#include <cstdint>
#include <string>

struct ZrLockQueue;

namespace zrlockqueue {

// How often the head looks at the lock without a release to wake it.
constexpr int64_t kHolderDeathMillis = 2;

// The queue of the lock file at lockPath, mapped once (the caller caches it
// per process); null when none can be had.
ZrLockQueue* open(const std::string& lockPath);
void close(ZrLockQueue* q);

enum class Entry { kHead, kTimedOut, kBroken };
// Enters the queue: at once when it is empty (waitMillis < 0: only then),
// else waiting up to waitMillis for the turn.
Entry enter(ZrLockQueue* q, int64_t waitMillis);
void leave(ZrLockQueue* q);
// The release count, read before the head tries the lock.
uint32_t generation(ZrLockQueue* q);
// The head waits until the count moves past seen, or waitMillis pass.
void awaitRelease(ZrLockQueue* q, uint32_t seen, int64_t waitMillis);
// After the lock's release: the count moves and a waiting head wakes.
void released(ZrLockQueue* q);

}  // namespace zrlockqueue
