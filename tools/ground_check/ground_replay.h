#pragma once
// A replay session played through the program inside this process on a virtual clock, so that the
// ground check (ground_check.h) scores a session's ground motion in seconds instead of a run of
// minutes (docs/ground-motion.md, "The ground check in seconds").
//
// The installation is laid out as the end-to-end runs lay it out (the built working folder, the
// default simulator installation and scenario), and the program's own start-up and run steps are
// called in their order on this thread: the start-up checks and scans, the simulator client's
// connection and dispatch, the traffic reader's decoding of each datagram (entered where the UDP
// loop hands a received datagram on), the feed, the main loop's 10 ms steps with the traffic
// engine's tick, and the stand-in simulator running by itself on a clock moved by the replay. What
// the simulator's state file shows once a second is the recording, as the real-time run reads it.
// Only the threads and the waiting are replaced: the simulator client is dispatched every virtual
// millisecond, the main loop steps every virtual 10 ms, and each of the run's fixed waits moves
// the clock instead of sleeping. The program's UTC clock follows the virtual one.
//
// The program's state is the process's: one replay per process.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ground_check.h"

namespace groundreplay {

struct Options {
  std::filesystem::path session;  // a replay session file (tools/rt_replay/session.h)
  // How much of the session is replayed and recorded, in session seconds; 0: all of it. The
  // recording goes on 40 s beyond, as the real-time run's does: the feed shows 30 s late.
  double sessionSeconds = 0.0;
  std::filesystem::path folder;  // where the installation is laid out (made when missing)
  // Lines sent beside the session's, as another sender on the network would: called every virtual
  // 10 ms of the replay and whenever the session sends traffic lines, with the replay's
  // milliseconds and the lines just sent (their feed times moved to the replay's clock); what it
  // returns is sent after them.
  std::function<std::vector<std::string>(std::int64_t replayMs, const std::vector<std::string>& sent)> beside;
};

struct Run {
  std::string failure;  // why the replay did not run to its end; empty when it did
  groundcheck::Recording recording;
  // The simulator second at which the session's start shows (the replay's start plus the feed's
  // 30 s), for groundcheck::Limits::feedShownSecond.
  double feedShownSecond = 0.0;
  int failedCreations = -1;  // the simulator's refused creations, from its last state
  std::string log;           // the program's log
  bool ran() const { return failure.empty(); }
};

Run replaySession(const Options& options);

// The ground check of a replay against its session's feed, at the replay's shown second; the paths
// are those of the exact session named (a scattering session's source), else the session's own;
// `judgedByExact` takes all the check judges by from it (groundcheck::takeExact).
groundcheck::Report checkReplay(const Run& run, const std::filesystem::path& session, groundcheck::Limits& limits,
                                const std::filesystem::path& exactSession = {}, bool judgedByExact = false);

}  // namespace groundreplay
