// The one way a run ends early. A routine that must stop writes its own messages (to the listing,
// standard output, ...) and then calls stop_run; the main program catches the exception, flushes
// and closes every file and ends the process with the status carried here. This keeps every
// routine testable: a test catches run_stop instead of losing its process.
#pragma once

#include <string>

namespace nep {

// Exit statuses of the programs.
enum exit_status : int {
    EXIT_DONE = 0,      // run completed (end time, steady state, coordinate-dump run)
    EXIT_ERROR = 1,     // every error stop
    EXIT_NO_BACKSTEP = 2  // a step could not be completed at the smallest step size
};

// The message of an allocation that failed.
constexpr const char* kNoMemory = "not enough memory for the arrays of this problem";

struct run_stop {
    int status;
    std::string message;  // written to standard error by the main program when not empty
};

// Ends the run with the given status; the caller has written its own messages already.
[[noreturn]] void stop_run(int status = EXIT_ERROR);

// Ends the run with status 1 and a message for standard error (without the program-name prefix,
// which the main program adds): "grid file 'grid' line 7: expected an integer, found '1.5e3'".
[[noreturn]] void input_error(const std::string& message);

}  // namespace nep
