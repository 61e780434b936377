// Every text glimvane-ctl shows, in one place.
#pragma once

const char* const text_ctl_usage =
    "Usage:\n"
    "  glimvane-ctl status RUNID      the launcher's original EXE name and process id\n"
    "  glimvane-ctl dump RUNID FILE   write a dump of all its Java thread stacks to FILE\n"
    "  glimvane-ctl list              the run ids of this user's running launchers that answer\n"
    "  glimvane-ctl send RUNID TEXT   send TEXT as the command and print the reply as it is\n"
    "\n"
    "RUNID is the name of the launcher's temp folder (GV followed by hex digits).\n"
    "Exit status: 0 on success, 1 when the launcher answered without a status or dump,\n"
    "2 for a command-line mistake, 3 when no launcher of that run id answers.\n";
const char* const text_ctl_no_channel =
    "glimvane-ctl: no launcher of this user has the run id %s\n";
const char* const text_ctl_no_answer =
    "glimvane-ctl: the launcher %s is running but did not answer within %d seconds\n";
const char* const text_ctl_busy =
    "glimvane-ctl: the launcher %s is running but other requests kept it busy for %d seconds\n";
const char* const text_ctl_ended = "glimvane-ctl: the launcher %s has ended\n";
const char* const text_ctl_gone =
    "glimvane-ctl: the launcher %s has ended without removing its channel (it was killed); "
    "the leftover objects are removed\n";
const char* const text_ctl_no_status = "glimvane-ctl: the launcher %s gave no status\n";
const char* const text_ctl_dump_written = "stack dump of %s written to %s\n";
const char* const text_ctl_no_dump =
    "glimvane-ctl: the launcher %s made no dump: its Java VM is not running, its runtime has no "
    "dump export, or %s is not a regular file of this user that it can create (it refuses links, "
    "FIFOs, devices and its own output)\n";
const char* const text_ctl_bad_path = "glimvane-ctl: a dump path may not hold a double quote: %s\n";
const char* const text_ctl_too_long = "glimvane-ctl: the command is longer than the %d bytes a launcher reads\n";
const char* const text_ctl_none_answers = "glimvane-ctl: no launcher of this user answers\n";
const char* const text_ctl_list_line = "%s  %s\n";
