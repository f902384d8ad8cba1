#pragma once

#include <string>

// Runs a built program as the tests' command-line checks need it: through
// the shell, with nothing on its standard input, its output captured.
namespace kelvora::testsupport {

struct ProgramOutcome {
    int exitCode = -1;    // -1 when it did not exit normally or could not start
    std::string output;   // standard output and standard error together
};

// program followed by arguments (already quoted for the shell), with
// environment ("NAME='value' ...", may be empty) set for it alone.
ProgramOutcome RunProgram(const std::string &program, const std::string &arguments,
                          const std::string &environment = "");

} // namespace kelvora::testsupport
