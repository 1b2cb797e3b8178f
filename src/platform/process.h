#pragma once
// Child processes: command-line splitting and quoting, and running a program with its
// standard output and error captured.
#include <string>
#include <string_view>
#include <vector>

// Splits a command line into arguments by the Windows rules: blanks separate, double quotes
// group, backslashes are literal except before a double quote (2n backslashes + quote give
// n backslashes and toggle quoting; 2n+1 give n backslashes and a literal quote).
std::vector<std::string> SplitCommandLine(std::string_view line);

// Quotes one argument so that SplitCommandLine gives it back byte for byte (blanks, '"',
// ';', trailing backslashes included). The result always stands in double quotes.
std::string QuoteArgument(std::string_view arg);

struct ProcessResult {
  bool started = false;  // false when the pipe or the process could not be created
  int exitStatus = -1;   // as from waitpid: exit code, or 128 + signal
  std::string error;    // why the program could not be started ("" when it was)
  int signal = 0;        // the signal that ended the child, 0 when it exited
  bool timedOut = false; // ended by us because it ran past its time limit
};

// Where a child's standard input and output go instead of /dev/null and the pipe: the
// caller's descriptors, which the child shares, offsets included (-1: the default).
struct ChildStreams {
  int input = -1;
  int output = -1;
};

// Starts argv[0] (no shell), to end with the calling thread (PR_SET_PDEATHSIG), standard
// input /dev/null, standard output and error into one pipe (or as `streams` say) that is
// drained with poll() until end of data; appends each chunk read, up to its first NUL byte,
// to `captured`; reaps the child. The running child is
// known to the interrupt handler so that Ctrl-C ends it too. A child still running after
// timeoutSeconds (0: no limit) is asked to end, killed two seconds later, and reported as
// timed out.
ProcessResult RunProcess(const std::vector<std::string>& argv, std::string& captured,
                         int timeoutSeconds = 0, const ChildStreams& streams = {});
