// Every text glimvane-pack shows, in one place. The launch errors that
// inspect names come from support/messages.h, shared with the launcher.
#pragma once

const char* const pack_name = "glimvane-pack";
const char* const pack_version = "1.0";

const char* const text_usage =
    "Usage:\n"
    "  glimvane-pack --stub STUB --out OUT [options]   write a packaged executable\n"
    "  glimvane-pack inspect FILE                      list and verify its sections\n"
    "\n"
    "Options:\n"
    "  --stub FILE          the launcher stub to start from (glimvane, glimvane-x86.exe, ...)\n"
    "  --out FILE           the packaged executable to write (its file name, at most 67\n"
    "                       bytes, becomes the original EXE name)\n"
    "  --name TEXT          the application's display name, at most 67 bytes\n"
    "                       (default: OUT's file name without extension)\n"
    "  --jar FILE           a jar for the class path, stored under its file name and\n"
    "                       listed in the jars value (repeatable, in class path order)\n"
    "  --file SRC[=REL]     a file written into the temp folder as REL (default: SRC's\n"
    "                       file name); \"/\" or \"\\\" make sub-folders (repeatable)\n"
    "  --main CLASS         the application's main class (the key main)\n"
    "  --var KEY=VALUE      a further Vars line, such as mx=512, minver=1.8, jvm=...,\n"
    "                       jop=..., execwd=*, useclasspath=* (repeatable)\n"
    "  --getjava FILE       the Java runtime installer run when no runtime is found\n"
    "  --payload FILE       a payload only the Java side reads (repeatable)\n"
    "  --no-boot            leave out the standard boot class glimvaneboot.class, for\n"
    "                       a package that brings its own boot class\n"
    "  --help               show this text\n"
    "  --version            show the version\n"
    "\n"
    "Options take their value as the next word or after \"=\" (--out=app.exe).\n"
    "\n"
    "Every package holds the standard boot class, stored as glimvaneboot.class at the\n"
    "root of the temp folder. It starts the class named by --main, passing it the\n"
    "user's words; the Vars key windowed (--var windowed=*) puts the stack trace of an\n"
    "exception that ends main into the error box. The temp folder comes first on the\n"
    "class path, so this class wins over a glimvaneboot inside a jar: use --no-boot\n"
    "to have a jar's own boot class run.\n"
    "Exit status: 0 on success, 1 when the input is refused or the file would not\n"
    "launch, 2 for a command-line mistake.\n";

// Command line.
const char* const text_unknown_option = "unknown option '%s' (see --help)";
const char* const text_missing_value = "option '%s' needs a value";
const char* const text_missing_required = "--stub and --out are required (see --help)";
const char* const text_once_only = "option '%s' may be given only once";
const char* const text_inspect_usage = "usage: glimvane-pack inspect FILE";

// Refused input.
const char* const text_cannot_read = "cannot read '%s': %s";
const char* const text_not_a_file = "'%s' is not a regular file";
const char* const text_name_too_long = "%s '%s' is %d bytes long; at most 67 are allowed";
const char* const text_display_name = "the display name";
const char* const text_exe_name = "the output's file name";
const char* const text_bad_key = "--var '%s': the key must be non-empty and hold no '=' or line feed";
const char* const text_bad_value = "--var '%s': the value must hold no line feed";
const char* const text_bad_main = "--main '%s': the class name must hold no line feed";
const char* const text_duplicate_key = "the key '%s' is given twice";
const char* const text_hidden_key =
    "the launcher or the boot class looks up '%s=' and would find it inside another line first; "
    "reorder or rename the keys";
const char* const text_bad_path =
    "'%s': the stored path must be relative, without a drive letter or a \"..\" part";
const char* const text_path_too_long = "'%s': the stored path is over 255 bytes long";
const char* const text_jar_separator = "--jar '%s': the file name must hold no ';' or line feed";
const char* const text_duplicate_path = "two files would be stored as '%s'";
const char* const text_boot_taken =
    "a packed file would replace the standard boot class '%s': pack with --no-boot to bring your own";
const char* const text_no_marker =
    "'%s' holds no configuration block: it is not a glimvane launcher stub";
const char* const text_two_markers =
    "'%s' holds the configuration block marker %d times: cannot tell which is the block";
const char* const text_already_packed = "'%s' is already a packaged executable; start from a bare stub";
const char* const text_too_large = "the output would be %llu bytes long; the limit is 2147483647";
const char* const text_changed = "'%s' changed while it was being packed";
const char* const text_cannot_write = "cannot write '%s': %s";
const char* const text_error_prefix = "glimvane-pack: %s\n";

// Inspect.
const char* const text_inspect_file = "file: %s (%lld bytes)\n";
const char* const text_inspect_block =
    "block: sections=%d min.length=%d name='%s' exe='%s'\n";
const char* const text_inspect_section = "section %d at %d: type %c, payload %d bytes, signature %s";
const char* const text_inspect_record = ", file '%s' (%u bytes)";
const char* const text_inspect_bad_record = ", record refused (bounds or path)";
const char* const text_inspect_vars_line = "    %s\n";
const char* const text_inspect_no_nul = "    (the Vars text has no ending NUL)\n";
const char* const text_inspect_trailing = "trailing data: %lld bytes after the last section\n";
const char* const text_inspect_ok = "ok: the file would launch\n";
const char* const text_inspect_error = "error: %s\n";
const char* const text_inspect_vars_nul = "the Vars text has no ending NUL";
