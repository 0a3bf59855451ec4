// The commands of gwctl. Each checks its words first (a bad command line never reaches gwrt),
// then talks to gwrt, prints the result on stdout, and on failure prints one line on stderr.
// Each returns the exit status (session.h).
#pragma once

#include "options.h"
#include "session.h"

namespace gwctl {

// Dispatches options.command.
int run_command(const Options& options, Session& session);

// `monitor PATH [EXPRESSION]`: prints every event as one JSON line until SIGINT or SIGTERM
// (exit 0) or until gwrt goes away (exit 1).
int monitor(const Options& options, Session& session);

}  // namespace gwctl
