// Child processes of the many-instrument mode: this program started again
// for one instrument each, with its standard output, standard error and a
// status channel on pipes that the parent reads, standard input empty.
// A child ends when its parent does, however that ends.
// posix_spawn on POSIX, CreateProcess on Windows; one implementation file
// each. Everything here runs on the parent's main thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace parlex2::cli {

// The hidden option that gives a child its status channel: a file descriptor
// on POSIX, an inherited handle's value on Windows. ChildPool::Start puts it
// first on every child's command line.
inline constexpr char kStatusChannelOption[] = "--fleet-status";

// This program's own executable, found at run time (so a renamed or moved
// program starts itself); empty, with the reason in `error`, when it cannot
// be found.
std::string OwnExecutablePath(std::string& error);

enum class ChildStream { Output, Error, Status };

struct ChildExit {
  int code = -1;               // the exit status; -1 when ended by a signal
  int signal = 0;              // POSIX: the signal that ended it
  std::uint64_t peakKiB = 0;   // its largest resident memory, 0 when unknown
};

// What ChildPool::Wait reports. Output comes as it was read, not in lines;
// Exited comes once, after the last output of that child.
struct ChildEvents {
  std::function<void(std::size_t id, ChildStream stream, std::string_view bytes)> output;
  std::function<void(std::size_t id, const ChildExit& exit)> exited;
};

class ChildPool {
 public:
  ChildPool();
  ~ChildPool();  // kills and reaps any child still running
  ChildPool(const ChildPool&) = delete;
  ChildPool& operator=(const ChildPool&) = delete;

  // Starts `program` with `kStatusChannelOption CHANNEL` and then `arguments`.
  // False, with the system's reason in `error`, when it could not be started.
  bool Start(std::size_t id, const std::string& program, const std::vector<std::string>& arguments,
             std::string& error);
  std::size_t Running() const;

  // Waits up to `timeoutMs` for output or an exit and reports what came.
  // Returns early when an interruption was asked for (see InterruptRequested).
  void Wait(int timeoutMs, const ChildEvents& events);

  // Asks every running child to end (SIGTERM; TerminateProcess on Windows);
  // those still running two seconds later are killed. Wait goes on
  // reporting their exits.
  void StopAll();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Ctrl+C and SIGTERM (console close on Windows) set a flag instead of ending
// the program, so that the children can be stopped first.
void CatchInterrupts();
bool InterruptRequested();

// The child's side of the status channel: opened from the option's value.
// Each Send is one line "KEY VALUE" written in one piece; line feeds in the
// value become spaces. Safe from any thread.
bool OpenStatusChannel(const std::string& value);
bool StatusChannelOpen();
void SendStatus(std::string_view key, std::string_view value);

// POSIX: the child ends when its parent does (Linux's parent-death signal).
void EndWithParent();

}  // namespace parlex2::cli
