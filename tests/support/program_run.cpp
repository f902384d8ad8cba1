#include "tests/support/program_run.h"

#include <sys/wait.h>

#include <cstdio>

namespace kelvora::testsupport {

ProgramOutcome RunProgram(const std::string &program, const std::string &arguments, const std::string &environment)
{
    ProgramOutcome outcome;
    const std::string command = environment + " '" + program + "' " + arguments + " 2>&1 </dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return outcome;
    char buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        outcome.output.append(buffer, count);
    const int status = pclose(pipe);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

} // namespace kelvora::testsupport
