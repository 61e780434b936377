// Texts of the error report as a user sees them, written out in full so
// that the tests check the launcher's constants rather than reuse them.
#pragma once

#include <string>

const std::string report_separator =
    "\r\n----------------------------------------------------------------------\r\n";
const std::string windows_problem =
    "PROBLEM: A Windows API function call failed\r\n\r\n"
    "SOLUTION: Try restarting Windows and contact your System Administrator for help";
const std::string disk_problem =
    "PROBLEM: Can not create folders/files on the hard drive\r\n\r\n"
    "SOLUTION: Free up some disk space (Run the 'Disk Cleanup' system tool)";
