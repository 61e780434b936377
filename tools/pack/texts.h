// Every text glimvane-pack shows, in one place. The launch errors that
// inspect names come from support/messages.h, shared with the launcher.
#pragma once

const char* const pack_name = "glimvane-pack";
const char* const pack_version = "1.1";

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
    "  --jar SRC[=REL]      a jar for the class path, stored as REL (default: SRC's file\n"
    "                       name) and listed in the jars value (repeatable, in class\n"
    "                       path order); REL must not begin with \".\"\n"
    "  --file SRC[=REL]     a file written into the temp folder as REL (default: SRC's\n"
    "                       file name); \"/\" or \"\\\" make sub-folders (repeatable)\n"
    "  --dir SRC[=REL]      every file below the folder SRC, stored below REL (default:\n"
    "                       SRC's folder name; empty: at the top) (repeatable)\n"
    "  --main CLASS         the application's main class (the key main)\n"
    "  --var KEY=VALUE      a further Vars line, such as mx=512, minver=1.8, jvm=...,\n"
    "                       jop=..., execwd=*, useclasspath=* (repeatable)\n"
    "  --getjava FILE       the Java runtime installer run when no runtime is found\n"
    "  --payload FILE       a payload only the Java side reads (repeatable)\n"
    "  --no-boot            leave out the standard boot class glimvaneboot.class, for\n"
    "                       a package that brings its own boot class\n"
    "  --fast-start         extract the jars and files once into the user's cache and\n"
    "                       start from there at every later launch (the key\n"
    "                       faststart; the boot class goes into glimvaneboot.jar,\n"
    "                       first on the class path)\n"
    "  --runtime DIR        pack the Java runtime image DIR (jlink output, JDK or JRE\n"
    "                       folder for the stub's OS and bitness) below runtime/: the\n"
    "                       package needs no installed Java; implies --fast-start\n"
    "  --compress           store each file that shrinks as a compressed section,\n"
    "                       one above 4 MB in parts that a first launch inflates on\n"
    "                       two threads (launchers of package format 1.1 read\n"
    "                       whole ones, of 1.2 also parts)\n"
    "  --relay on|off       standard output through the launcher's relay (the key\n"
    "                       relay; default: on for the windowed Windows stubs only)\n"
    "  --splash IMAGE       a PNG, GIF or JPEG shown from before the VM starts until\n"
    "                       the first window (the key splash; default: the main jar's\n"
    "                       SplashScreen-Image, as java -jar shows it)\n"
    "  --single-instance [CLASS.METHOD]\n"
    "                       one running instance per user: a later launch hands its\n"
    "                       words to the public static void METHOD(String[]) of the\n"
    "                       running one and ends (the key singleinstance)\n"
    "  --help               show this text\n"
    "  --version            show the version\n"
    "\n"
    "  @FILE                more arguments from FILE, one per line\n"
    "\n"
    "Options take their value as the next word or after \"=\" (--out=app.exe).\n"
    "Stored paths are relative, at most 158 bytes long (the launcher's limit of 259\n"
    "bytes for a full path less a temp folder of up to 100 bytes), without \"..\",\n"
    "an empty name or a trailing separator, and no file stored below another\n"
    "file's name. For a Windows stub they hold names that Windows can hold: no\n"
    "con, prn, aux, nul, com1-com9 or lpt1-lpt9 (with any extension), none of\n"
    "<>:\"|?* or control characters, no name ending in a dot or a blank. --dir\n"
    "stores a linked file under the link's name and follows links to folders; a\n"
    "loop is refused. The output must not be an input, an @FILE or the --icon.\n"
    "\n"
    "A package that would fail at launch is refused: --main is needed for the\n"
    "standard boot class, mx is whole megabytes (1g and 512m are converted), and\n"
    "a jop option with blanks is quoted whole: \"-Dapp.title=My App\".\n"
    "\n"
    "Every package holds the standard boot class, stored as glimvaneboot.class at the\n"
    "root of the temp folder. It starts the class named by --main, passing it the\n"
    "user's words; the Vars key windowed (--var windowed=*) puts the stack trace of an\n"
    "exception that ends main into the error box. The temp folder comes first on the\n"
    "class path, so this class wins over a glimvaneboot inside a jar: use --no-boot\n"
    "to have a jar's own boot class run. With --fast-start the class is stored in\n"
    "glimvaneboot.jar, the first jar on the class path.\n"
    "\n"
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
const char* const text_bad_relay = "--relay '%s': give on or off";
const char* const text_bad_instance_method =
    "--single-instance '%s': name the method as CLASS.METHOD, such as app.Main.openFiles";
const char* const text_splash_not_image = "--splash '%s': the image must be a PNG, GIF or JPEG file";
const char* const text_splash_entry_missing = "'%s': its manifest's SplashScreen-Image '%s' is not in the jar";
const char* const text_duplicate_key = "the key '%s' is given twice";
const char* const text_duplicate_key_writer =
    "the key '%s' is given twice: %s writes it already; leave out --var %s=... or that option";
const char* const text_writer_packer = "the packer";
const char* const text_no_main =
    "the package names no main class, so the standard boot class would end with error 50: give --main CLASS "
    "(or --no-boot and a boot class of your own)";
const char* const text_bad_mx =
    "mx=%s: the launcher would pass -Xmx%sm, which the VM refuses (error 12); give the heap as a whole number "
    "of megabytes from %llu to %llu, such as --var mx=512 (1g or 512m are converted)";
const char* const text_mx_converted = "--var mx=%s is written as mx=%s: the launcher takes megabytes";
const char* const text_jop_inner_quote =
    "jop: in '%s' a quote stands inside the option, where the launcher keeps it and cuts the option at "
    "the next blank; put the quotes around the whole option: \"-Dapp.title=My App\"";
const char* const text_jop_after_quote =
    "jop: in '%s' text follows the closing quote, and the launcher makes it an option of its own; put "
    "the closing quote at the end of the option";
const char* const text_jop_unclosed =
    "jop: the quote that begins '%s' is never closed, so the launcher makes the rest one option; close it "
    "at the end of the option";
const char* const text_jop_too_many = "jop: %d options; the launcher passes at most 95 to the VM";
const char* const text_faststart_var = "--var faststart=...: use --fast-start, which also puts the boot class in a jar";
const char* const text_hidden_key =
    "the launcher or the boot class looks up '%s=' and would find it inside another line first; "
    "reorder or rename the keys";
const char* const text_bad_path =
    "'%s' (from '%s'): the stored path must be relative, without a drive letter or a \"..\" part";
const char* const text_path_too_long =
    "'%s' (from '%s'): the stored path is %d bytes long; at most %d fit below a temp folder of 100 bytes: store it "
    "under a shorter path with SRC=REL";
const char* const text_windows_name =
    "'%s' (from '%s'): Windows cannot hold this path: %s; store it under another name with SRC=REL";
const char* const text_trailing_separator =
    "'%s' (from '%s'): the stored path ends in a separator and names no file; give it a file name";
const char* const text_why_device = "a name is a reserved device name";
const char* const text_why_character = "a name holds one of <>:\"|?*";
const char* const text_why_control = "a name holds a control character";
const char* const text_why_dot_blank = "a name ends in a dot or a blank";
const char* const text_why_trailing = "it ends in a separator";
const char* const text_reserved_name =
    "'%s' (from '%s'): names beginning with '%s' are the launcher's own in the temp folder: store it under another "
    "name with SRC=REL";
const char* const text_empty_name =
    "'%s' (from '%s'): the stored path holds two separators in a row; leave one out";
const char* const text_jar_dot =
    "--jar '%s' (from '%s'): a jar stored under a name beginning with \".\" is looked up beside the "
    "executable, not in the package; store it under another name with --jar SRC=REL";
const char* const text_below_file =
    "'%s' (from '%s') would be stored below the file '%s'; store one of them under another name with SRC=REL";
const char* const text_out_is_input = "the output '%s' is the input '%s'; choose another --out";
const char* const text_too_large_input =
    "'%s' is %llu bytes long, more than a stub or an icon can be (at most %llu): check that it is the right file";
const char* const text_signature_removed =
    "the stub '%s' is signed; the package leaves its signature out, since packing breaks it: sign the "
    "package after packing it";
const char* const text_signature_inside =
    "the stub '%s' is signed, with data after its signature: start from the unsigned stub";
const char* const text_dir_loop =
    "--dir '%s': '%s' links to '%s', a folder that holds the link, so the walk would never end; remove the "
    "link or pack a folder it does not lead back into";
const char* const text_dir_link_out = "--dir '%s': '%s' links to '%s', outside the folder; its content is packed";
const char* const text_dir_dangling = "--dir '%s': '%s' is a link to nothing; it is left out";
const char* const text_dir_special = "--dir '%s': '%s' is neither a file nor a folder; it is left out";
const char* const text_class_path_absolute =
    "%s: its manifest's Class-Path names '%s', outside the package, which the running package loads "
    "from the user's machine, not from the packed copy; pack that file and make the entry relative to the jar";
const char* const text_class_path_missing =
    "%s: its manifest's Class-Path names '%s', which the package does not hold; pack that file under that "
    "name beside the jar, or remove the entry";
const char* const text_packed_as = "'%s' (from '%s')";
const char* const text_note = "note";
const char* const text_warning = "warning";
const char* const text_cannot_list = "cannot list the folder '%s': %s";
const char* const text_empty_dir = "the folder '%s' holds no file";
const char* const text_jar_separator =
    "--jar '%s': the stored name must hold no ';' or line feed; store it under another with --jar SRC=REL";
const char* const text_duplicate_path =
    "'%s' and '%s' would both be stored as '%s'; store one of them under another name with SRC=REL";
const char* const text_boot_taken =
    "a packed file would replace the standard boot class '%s': pack with --no-boot to bring your own";
const char* const text_no_marker =
    "'%s' holds no configuration block: it is not a glimvane launcher stub; give --stub glimvane, "
    "glimvane-x86.exe or glimvane-x64.exe";
const char* const text_two_markers =
    "'%s' holds the configuration block marker %d times: cannot tell which is the block";
const char* const text_already_packed = "'%s' is already a packaged executable; start from a bare stub";
const char* const text_too_large =
    "the output would be %llu bytes long; the limit is 2147483647: pack fewer or smaller files";
const char* const text_changed = "'%s' changed while it was being packed";
const char* const text_cannot_write = "cannot write '%s': %s";
const char* const text_error_prefix = "glimvane-pack: %s\n";

// Packed runtimes and the package format.
const char* const text_runtime_jvm =
    "--runtime and --var jvm=... both choose the runtime: a package's own runtime comes after the one that jvm "
    "names beside the executable, so that one would never be used; leave out one of them";
const char* const text_modules_inflated =
    "--runtime '%s': its lib/modules (%.1f MB) compresses to %.1f MB, so jlink did not compress it, and each "
    "user's first launch inflates all of it; an image linked with jlink --compress=2 (on Java 21 and later "
    "--compress=zip-6) and --strip-debug makes a package of about the same size that starts its first launch "
    "faster";
const char* const text_runtime_no_release =
    "--runtime '%s': no release file with a JAVA_VERSION, so it is no runtime image; give the folder that "
    "holds bin, lib and release (a jlink --output, a JDK or a JRE)";
const char* const text_runtime_no_library =
    "--runtime '%s': no VM library (lib/server/libjvm.so, bin/server/jvm.dll or bin/client/jvm.dll)";
const char* const text_runtime_other_target =
    "--runtime '%s': its VM library %s is for %s, the stub for %s; give a runtime image for the stub's OS and "
    "bitness (see docs/packaging.md for a Windows image made on Linux)";
const char* const text_target_unknown = "an unknown target";
const char* const text_stub_too_old =
    "the stub '%s' reads package format %s, and %s needs format %s; use the stub of this glimvane-pack's release";
const char* const text_stub_too_old_options = "--compress or --runtime";

// Inspect.
const char* const text_inspect_file = "file: %s (%lld bytes)\n";
const char* const text_inspect_block =
    "block: sections=%d min.length=%d name='%s' exe='%s'\n";
const char* const text_inspect_section = "section %d at %d: type %c, payload %d bytes, signature %s";
const char* const text_inspect_record = ", file '%s' (%u bytes)";
const char* const text_inspect_compressed = ", file '%s' (%u bytes, compressed)";
const char* const text_inspect_part = ", part of file '%s' (%u bytes at %u of %u, compressed)";
const char* const text_inspect_runtime =
    "runtime: %s/, Java %s, %s, %llu bytes in %d files\n";
const char* const text_inspect_format = "format: the package needs %s, the stub reads %s%s\n";
const char* const text_inspect_unmarked = " (a stub from before format 1.1)";
const char* const text_inspect_format_why =
    "the stub cannot read what the package holds (compressed sections or a packed runtime); pack it again with "
    "the stub of a glimvane-pack release that writes format %s";
const char* const text_inspect_unmarked_why =
    "the stub predates format 1.1 and passes over what it cannot read, so it would start without those files "
    "instead of reporting error 92; pack it again with the stub of a glimvane-pack release that writes format %s";
const char* const text_inspect_bad_record = ", record refused (bounds or path)";
const char* const text_inspect_vars_line = "    %s\n";
const char* const text_inspect_no_nul = "    (the Vars text has no ending NUL)\n";
const char* const text_inspect_trailing = "trailing data: %lld bytes after the last section\n";
const char* const text_inspect_ok = "ok: the file would launch\n";
const char* const text_inspect_error = "error: %s\n";
const char* const text_inspect_warning = "warning: %s\n";
const char* const text_inspect_signature =
    "the stub's signature lies inside the package and no longer matches it; pack again with this packer, "
    "which leaves it out, and sign the package after packing it";

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
    "Sign a package after packing it: see docs/packaging.md.\n";
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
const char* const text_inspect_refused = " (refused)";
const char* const text_inspect_windows = "target: Windows\n";
const char* const text_inspect_posix = "target: POSIX\n";
// A Windows package's write failures are named without an error number:
// only the Windows host knows it.
const char* const text_inspect_41_windows =
    "41: Unable to write a file to the temp folder ('%s': %s; the error number is Windows' own)";
const char* const text_inspect_41_why = " ('%s': %s)";
const char* const text_why_leaves = "the path leads out of the temp folder";
const char* const text_why_long = "it fits only below a temp folder of at most %d bytes";
const char* const text_why_below_file = "it lies below a file of the package";
const char* const text_why_is_folder = "a folder of that name holds other files of the package";
const char* const text_why_bounds = "the record breaks its bounds";
