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
};

// Starts argv[0] with posix_spawn (no shell), standard input /dev/null, standard output and
// error into one pipe that is drained with poll() until end of data; appends each chunk
// read, up to its first NUL byte, to `captured`; reaps the child. The running child is
// known to the interrupt handler so that Ctrl-C ends it too.
ProcessResult RunProcess(const std::vector<std::string>& argv, std::string& captured);
