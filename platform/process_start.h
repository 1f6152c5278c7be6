// Starting programs for the clipboard and shell stand-ins. A program always
// gets an argument vector through execve: no command line is ever handed to
// a shell, so blanks, quotes, ';' or "$(...)" in an argument stay bytes of
// that argument.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace process {

// A regular file that this process may execute.
bool isExecutableFile(const std::string& path);

// A name with a slash as it stands; a bare name searched on PATH. Empty when
// no executable file answers to it.
std::string findProgram(const std::string& name);

// Starts path with args (args[0] included) in its own session, standard
// input from /dev/null, in directory (the current one when empty). The
// program is not left as our child: nothing has to reap it and the caller
// never waits on it. Returns once the program has replaced the started
// process: 0, or the errno that stopped it (fork, chdir, exec).
int startDetached(const std::string& path, const std::vector<std::string>& args, const std::string& directory);

// Runs path with args, the input bytes on its standard input (then end of
// file), standard output and error to /dev/null, in its own session so that
// whatever it leaves running outlives us. Waits at most timeoutMs in all for
// it to take the input and exit, and kills it when that time is up. Returns
// its exit status, or -1 when it could not be started, died or was killed.
int runWithInput(const std::string& path, const std::vector<std::string>& args, const char* input,
                 std::size_t length, int timeoutMs);

}  // namespace process
