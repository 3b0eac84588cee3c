// Process start and end, and the arguments the program was started with.
#pragma once

#include <string>

// The program's main procedure, which the program defines. The run-time's
// process entry runs it once: when it returns, the process ends with exit
// status 0; a failure that escapes it ends the process through the
// unhandled-failure report with exit status 1.
void ProgramMain();

namespace rtl {

// How many arguments follow the program's name. Empty arguments do not
// count: they are what an empty pair of quotes yields.
int ParamCount();

// Argument `index`, from 1 to ParamCount(); any other index yields "".
// On POSIX the bytes as they arrived; on Windows the UTF-16 text as WTF-8,
// so that every name the file system holds survives the trip.
std::string ParamStr(int index);

// Runs ProgramMain under the top-level handler; returns the exit status.
// Called once, by the platform's process entry.
int RunProgram();

}  // namespace rtl
