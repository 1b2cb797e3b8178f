#pragma once

// The whole run: parse, provision the engines, build the jobs, run them through the job
// loop and clean up. Returns the exit status: -2 when nothing was converted because of
// the command line or an empty input pattern, else 1 or 0 for the last job.
int RunTracewright(int argc, char** argv);
