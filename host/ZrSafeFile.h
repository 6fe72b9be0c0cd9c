#pragma once
// Opening, reading and replacing files that must be what they claim to be:
// plain regular files reached without following a final symbolic link and
// without blocking on a FIFO or device. Shared by every host file that other
// users or crashed writers could tamper with (the settings store, lock and
// holder files, HORCM instance files, kept command output).
//
// Thread-safety: plain functions over the file system; no shared state.
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace ZrSafeFile {

// open(2) with O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC added; anything but a
// regular file is closed again and refused. O_NONBLOCK is cleared on the
// descriptor returned. -1 with *error set (and errno kept) on failure;
// *error names the path. A refused non-regular file sets errno to EINVAL.
int openRegular(const std::string& path, int flags, mode_t mode, std::string* error);
// As openRegular, but the descriptor keeps O_NONBLOCK (enough for flock and
// saves a system call on hot paths such as the named locks).
int openRegularNonblocking(const std::string& path, int flags, mode_t mode, std::string* error);

// Reads the whole regular file into *content, at most maxBytes (0: no
// limit); a larger file is refused. false with *error on failure; *missing
// (when given) is true when the file does not exist.
bool readRegular(const std::string& path, std::string* content, size_t maxBytes, std::string* error,
                 bool* missing = nullptr);

// Whether a replacement must survive a crash of the machine.
enum class Durability {
  kAtomicOnly,  // atomic for every reader; after a machine crash either version, or an empty file
  kDurable,     // also flushed: the temporary before the rename, the directory after it
};

// Replaces path atomically with content: a temporary file with an
// unpredictable name beside it (path + ".tmp.XXXXXX", or with a writer tag
// path + ".tmp." + writerTag + ".XXXXXX", so that a reader can tell whose
// it is without trusting path's own name), written, given mode
// (kDurable: flushed to the disk) and renamed over path (kDurable: then the
// directory flushed, so that the rename itself survives). A final symbolic
// link at path is replaced, never followed. false with *error on failure
// (path unchanged, except when only the directory's flush failed: the new
// content is then in place, but a crash may still lose it).
bool replaceAtomically(const std::string& path, const std::string& content, mode_t mode,
                       std::string* error, Durability durability = Durability::kAtomicOnly,
                       const std::string& writerTag = "");

// Appends text to the existing regular file at path and flushes the file,
// so that the addition outlives a crash of the machine (a crash during the
// write may keep a first part of it). false with *error on failure.
bool appendDurably(const std::string& path, const std::string& text, std::string* error);

// Removes the file at path (a missing one counts as removed) and flushes its
// directory, so that the removal outlives a crash of the machine. false with
// *error on failure.
bool removeDurably(const std::string& path, std::string* error);

// Flushes the directory dir, so that the names created, renamed or removed
// in it survive a crash of the machine. false with *error on failure.
bool flushDirectory(const std::string& dir, std::string* error);

// A directory that only this process's user may change: created 0700 (its
// missing parents 0755) when missing. "" when dir is a directory, not a
// link, owned by the effective user and writable by neither group nor
// others; else why not, naming it as what (for example "intent directory").
std::string privateDirectoryProblem(const std::string& dir, const std::string& what);

// Removes every temporary file of replaceAtomically left beside path by a
// writer that died before its rename. Only safe while the caller holds the
// writers' lock of path.
void removeStaleTemporaries(const std::string& path);

// Creates dir with mode and its missing parents with 0755 (the umask does
// not apply to dir itself: its mode is set explicitly when it is created). true when dir exists as
// a directory afterwards.
bool makeDirectories(const std::string& dir, mode_t mode);

}  // namespace ZrSafeFile

// The flush of a durable replacement, one seam so that tests see what is
// flushed and when (host/testing/ZrFileSyncRecorder.h swaps it). The default
// is fsync(2).
class ZrFileSync {
 public:
  virtual ~ZrFileSync();
  // 0 when everything written to fd is on the disk, else -1 with errno.
  virtual int sync(int fd) = 0;
  // The flush in force.
  static ZrFileSync& get();
};
