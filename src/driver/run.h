#pragma once

// The whole run: parse, provision the engines, build the jobs, run them through the job
// loop and clean up. Returns the exit status: -2 when nothing was converted because of
// the command line, a bad TRACEWRIGHT_* value or an empty input pattern, else 1 or 0 for the
// last job. Under TRACEWRIGHT_EXIT=posix: 0 when every job succeeded, 1 when any job or image
// failed, 2 when nothing was converted for those reasons.
int RunTracewright(int argc, char** argv);
