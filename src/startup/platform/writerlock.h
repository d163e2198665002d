// Writers to one database folder take turns: every command that writes into the
// databases of a folder holds that folder's writer lock for its whole length.
// The lock is an advisory lock on the file "velmo-writer.lock" in the folder, so
// the system frees it when the holding process ends in any way. Readers (other
// programs reading the databases) never take it.
#pragma once
#include <functional>
#include <string>

namespace velmo::db {

class WriterLock {
 public:
  struct Options {
    // How long a second writer waits for the first; 0 or less: does not wait.
    int waitSeconds = 600;
    // Called once when the lock is held by another process and the wait starts,
    // with a message naming the folder and the holder.
    std::function<void(const std::string& message)> onWait;
    // Polled while waiting; true ends the wait with a cancel error.
    std::function<bool()> cancelled;
  };

  // Takes the lock of the folder (the folder of the databases, with or without a
  // trailing "/"). Throws VelmoError (err::FileInUse) naming the folder and the
  // holding process after the wait limit, and (err::Cancelled) on a cancel.
  // Taking it again in the same process nests.
  explicit WriterLock(const std::string& folder);
  WriterLock(const std::string& folder, const Options& options);
  ~WriterLock();
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

  // The wait limit used when no Options are given (setting WriterWaitSeconds).
  static void setDefaultWaitSeconds(int seconds);
  static int defaultWaitSeconds();
  static std::string lockFilePath(const std::string& folder);
  // Called with the folder when the process's last turn on it ends, while the
  // lock is still held (the server copy is brought up to date there).
  static void setReleaseHook(std::function<void(const std::string& folder)> hook);

 private:
  std::string key_;
};

}  // namespace velmo::db
