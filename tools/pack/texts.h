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
    "  --help               show this text\n"
    "  --version            show the version\n"
    "\n"
    "Options take their value as the next word or after \"=\" (--out=app.exe).\n"
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
    "the launcher looks up '%s=' and would find it inside another line first; "
    "reorder or rename the keys";
const char* const text_bad_path =
    "'%s': the stored path must be relative, without a drive letter or a \"..\" part";
const char* const text_path_too_long = "'%s': the stored path is over 255 bytes long";
const char* const text_jar_separator = "--jar '%s': the file name must hold no ';' or line feed";
const char* const text_duplicate_path = "two files would be stored as '%s'";
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

// Windows resources.
const char* const text_usage_windows =
    "\n"
    "Windows stubs only:\n"
    "  --icon FILE.ico      the package's icon instead of the launcher's (at most 16\n"
    "                       images; give the 256-pixel image as PNG)\n"
    "  --version-info NAME,VERSION\n"
    "                       product name and version shown in the file's properties;\n"
    "                       VERSION begins with up to four numbers, such as 2.1.0\n"
    "  --execution-level asInvoker|highestAvailable|requireAdministrator\n"
    "                       the rights the package asks Windows for (default\n"
    "                       requireAdministrator: a prompt at every start)\n"
    "  --console            pack the console variant found next to the stub\n"
    "                       (glimvane-x64.exe gives glimvane-x64-console.exe)\n"
    "Sign a package after packing it: see the README.\n";
const char* const text_not_windows_stub =
    "'%s' is not a Windows stub; --icon, --version-info, --execution-level and --console "
    "apply to glimvane-x86.exe and glimvane-x64.exe";
const char* const text_stub_resources = "'%s' lacks the launcher's resources (%s): it is not a glimvane stub";
const char* const text_not_console = "'%s' is not a console program: --console needs the -console variant";
const char* const text_bad_level = "--execution-level '%s': use asInvoker, highestAvailable or requireAdministrator";
const char* const text_bad_version_info =
    "--version-info '%s': give NAME,VERSION with a non-empty name and a VERSION that begins "
    "with one to four numbers of at most 65535 separated by dots";
const char* const text_bad_utf8 = "--version-info '%s': the text must be UTF-8 without control characters";
const char* const text_bad_icon = "'%s' is not a valid icon file: %s";
const char* const text_icon_header = "no icon directory";
const char* const text_icon_entry = "image %d lies outside the file or is empty";
const char* const text_icon_image = "image %d is neither PNG nor a bitmap";
const char* const text_icon_count = "it holds %d images; at most %d fit";
const char* const text_room_full =
    "the icon and version information need %llu bytes; the stub has room for %llu (store the "
    "large images as PNG)";
const char* const text_room_scan =
    "the icon holds bytes the launcher would take for its own data; choose another icon";
