// Every text the launcher shows or logs, in one place, so that reviewers see
// them together and tests refer to the same constants.
#pragma once

// ---- outside the debug log -----------------------------------------------------
const char* const text_refused_free = "?free() %d\r\n";
const char* const text_out_of_memory = "\r\nOut of memory\r\n";

// ---- debug log -----------------------------------------------------------------
const char* const log_format = "!%s [%d]\r\n";
const char* const log_arg = "arg%d='%s'";
const char* const log_delete_error = "delete.error=%s";

// ---- payload container: launch errors the driver makes of its results ----------
const char* const text_error_21 = "21: Failed to map '%s' into memory";
const char* const text_error_90 = "90: '%s' is a partial/truncated EXE (partial download?)";
const char* const text_error_91 = "%d: EXE section digital signature check failed";
const char* const text_error_96 = "96: Invalid maximum number of EXE sections %d";
const char* const text_error_97 = "97: Expected %d sections in '%s' (found=%d)";
const char* const text_error_98 = "98: Vars EXE seciton is missing";
const char* const text_error_92 =
    "92: '%s' needs a newer launcher: it was packed for package format %s, and this launcher reads format %s";
const char* const text_error_41 = "41: Unable to write a file to the temp folder [winerr=%d]";
const char* const log_extracted = "extracted=%s";

// ---- launch driver: the errors of its own stages ----------------------------------
const char* const text_error_10 = "10: A Java Runtime Environment for '%s' could not be found";
// Added to error 10 when the only runtimes inside the window are of the
// other bitness: that one and this program's.
const char* const text_error_10_other_bits = ". A %d-bit Java is installed, but this program needs a %d-bit one.";
const char* const text_error_15 =
    "15: Failure locating a Java Runtime Environment after trying to install Java";
const char* const text_error_20 = "20: Windows 'GetModuleFileName()' failed [winerr=%d]";
const char* const text_error_22 =
    "22: Windows GetTempPath() folder can not be accessed (or is not valid)\r\n\r\n\t%s";
const char* const text_error_23 = "23: Windows GetTempPath() failed [winerr=%d]";
const char* const text_error_24 = "24: Windows SetEnvironmentVariable() failed";
const char* const text_error_40 = "40: Unable to create temporary folder [winerr=%d]\r\n\r\n\t%s";

// ---- launch driver: debug log ---------------------------------------------------------
const char* const log_app_name = "app.name=%s";
const char* const log_original_name = "original.exe.name=%s";
const char* const log_module_filename = "module.filename=%s";
const char* const log_exe_name_now = "exe.name.now=%s";
const char* const log_module_dir = "module.dir=%s";
const char* const log_mapped_length = "exe.mapped.length=%d";
const char* const log_temp_path = "temp.path=%s";
const char* const log_temp_folder = "temp.folder=%s";
const char* const log_temp_folder_taken = "temp.folder.taken=%s";
const char* const log_path = "path=%s";
const char* const log_cwd = "cwd=%s";

// ---- fast start: the extraction cache (debug log) ---------------------------------------
// The package's cache folder, then one line per decision: used as it is,
// extracted again and why, staged and renamed into place, refused with the
// fall-back to the temp folder, and old caches removed.
const char* const log_cache_folder = "cache.folder=%s";
// The system property that names the folder of the packed files.
const char* const files_property = "glimvane.files";
const char* const log_cache_hit = "cache.hit=%s";
const char* const log_cache_miss = "cache.miss=%s";
const char* const log_cache_staging = "cache.staging=%s";
const char* const log_cache_renamed = "cache.renamed=%s";
// Another launch put the same cache in place first: its copy is used.
const char* const log_cache_taken = "cache.taken=%s";
const char* const log_cache_refused = "cache.refused=%s (%s)";
const char* const log_cache_fallback = "cache.fallback=%s";
const char* const log_cache_removed = "cache.removed=%s";
const char* const text_cache_no_path = "no cache path";
const char* const text_cache_not_own = "a link, a file, another user's folder or one writable by others";
const char* const text_cache_not_made = "cannot be made";
const char* const text_cache_unsafe_way = "another user can change a folder or link on the way to it";
const char* const text_cache_locked = "lock unavailable";
const char* const text_cache_write_failed = "extraction failed";
const char* const text_cache_rename_failed = "rename failed";
const char* const text_cache_no_stamp = "no stamp";
const char* const text_cache_bad_stamp = "damaged stamp";
const char* const text_cache_other_sections = "signature differs";
const char* const text_cache_file_changed = "file changed: %s";
const char* const text_cache_open = "folder writable by others";
const char* const log_cache_leftover = "cache.leftover=%s";
// The stamp: its first line, one line per section, one per extracted file.
const char* const text_stamp_head = "glimvane-cache 1\n";
const char* const text_stamp_section = "section %c %016llx %d\n";
const char* const text_stamp_file = "file %lld %lld %s\n";

// ---- runtime discovery: debug log ------------------------------------------------------
const char* const log_private_jvm = "private.jvm=%s (%s)";
// The runtime packed into the package, extracted with its files.
const char* const log_packed_jvm = "packed.jvm=%s (%s)";
const char* const text_found = "found";
const char* const text_not_found = "NOT FOUND";
// The further places, looked at when no registered runtime fits the window:
// each place, each candidate with its version and what became of it, and
// the one chosen.
const char* const log_place = "runtime.place=%s (%s)";
const char* const log_candidate = "runtime.candidate=%s version=%s (%s)";
const char* const log_current = "runtime.current=%s version=%s (%s)";
const char* const log_further_chosen = "runtime.chosen=%s";
const char* const text_place_absent = "absent";
const char* const text_place_looked_at = "looked at";
const char* const text_taken = "taken";
const char* const text_current_taken = "passed over: the current runtime is taken";
const char* const text_outside_window = "passed over: outside the version window";
const char* const text_not_newer = "passed over: not newer than the one taken";
const char* const text_no_vm_library = "passed over: no VM library";
const char* const text_no_release = "passed over: no release file";
const char* const text_other_bits = "passed over: %d-bit VM library, this program is %d-bit";
const char* const text_other_machine = "passed over: VM library not for this machine";
const char* const text_unreadable_library = "passed over: VM library not readable";
const char* const text_no_version = "(none)";

// ---- exit path ------------------------------------------------------------------------
// The removal child's command line: module filename, temp folder, run id.
const char* const text_removal_command = "\"%s\" -deltree* \"%s\" %s";
const char* const text_abort_line = "\r\n";
const char* const text_vm_aborting = "The Java VM is aborting...";
const char* const log_exiting = "C.exiting";
const char* const log_exit = "C.exit(%d) [m=%lld]";
// The temp folder existed before this run (error 40): someone else's, kept.
const char* const log_removal_skipped = "removal.skipped=%s";
const char* const log_exit_hook = "jvm.exitHook=%d";
const char* const log_abort_hook = "jvm.abortHook()";
// With the debug log on, the removal child gets -D* too and logs its sweep.
const char* const text_removal_command_debug = "\"%s\" -D* -deltree* \"%s\" %s";

// ---- run folders of killed launches ----------------------------------------------------
// The owner mark's contents: process id and start time.
const char* const text_owner_mark = "glimvane-owner %u %llu\n";
const char* const log_owner_mark_failed = "owner.mark.failed=%d";
const char* const log_sweep_removed = "sweep.removed=%s";
const char* const log_sweep_incomplete = "sweep.incomplete=%s";

// ---- error report -----------------------------------------------------------------------
const char* const text_caption = "%s (%s)";
const char* const text_report_separator =
    "\r\n----------------------------------------------------------------------\r\n";
const char* const text_report_message = "ERROR #%s%s";
const char* const text_report_tail = "\r\n\r\n%s";
const char* const text_report_block = "%s\r\n\r\n";
const char* const text_problem_10 =
    "A Java Runtime Environment needs to be installed before '%s' can be run\r\n\r\n%s";
const char* const text_problem_runtime =
    "PROBLEM: An error occurred with your current Java Runtime Environment\r\n\r\n"
    "SOLUTION: Reinstall the Java Runtime Environment for '%s' and try again\r\n\r\n%s";
const char* const text_problem_windows =
    "PROBLEM: A Windows API function call failed\r\n\r\n"
    "SOLUTION: Try restarting Windows and contact your System Administrator for help";
const char* const text_problem_disk =
    "PROBLEM: Can not create folders/files on the hard drive\r\n\r\n"
    "SOLUTION: Free up some disk space (Run the 'Disk Cleanup' system tool)";
const char* const text_problem_java =
    "PROBLEM: Java programming issue -- notify your vendor\r\n\r\n"
    "SOLUTION: Obtain the latest '%s' from your vendor";
const char* const text_problem_damaged =
    "PROBLEM: '%s' is damaged\r\n\r\n"
    "SOLUTION: Reinstall '%s', preferably obtaining the latest version";
const char* const text_installer_known = "The Java Runtime Environment will now be installed";
const char* const text_installer_redirect =
    "You will be redirected to Sun's Java web site:\r\n\r\n\t%s"
    "\r\n\r\nwhere you should install the latest Java Runtime.";
// Pages that offer current Java runtimes: the vendor named in the redirect
// paragraph and the download page the report opens.
const char* const text_vendor_address = "https://adoptium.net/";
const char* const text_download_page = "https://adoptium.net/temurin/releases/";

// ---- installer fallback -----------------------------------------------------------------
const char* const text_getjava_notice = "The Java Runtime Environment for '%s' will now be installed...";
const char* const log_getjava = "getjava=%s";
const char* const log_getjava_process = "getjava=process=%d";
const char* const log_getjava_done = "getjava=DONE";

// ---- VM host ----------------------------------------------------------------------------
const char* const text_error_11 = "11: Failure loading/binding to the Java VM DLL\r\n\r\n\tJVM=%s";
const char* const text_error_12 =
    "12: JNI_CreateJavaVM() could not create a Java Runtime Environemnt [err=%d]\r\n\r\n\tJVM=%s";
const char* const text_error_13 = "13: The Java VM failed to locate the glimvaneboot.class file\r\n\r\n\tJVM=%s";
const char* const text_error_14 = "14: Unexpected Java VM exception\r\n\r\n\tJVM=%s";
const char* const log_java_class_path = "java.class.path=%s";
const char* const log_java_library_path = "java.library.path=%s";
const char* const log_jvm = "jvm=%s";
const char* const log_jop_text = "JOP='%s'";
const char* const log_jop_word = "jop=%s";
// A jop word past the 95 the option list holds.
const char* const log_jop_dropped = "jop.dropped=%s";
const char* const log_vm_invoke = "vm.java.invoke";
const char* const log_vm_returned = "vm.java.returned";
const char* const log_main_invoke = "vm.main.invoke";
const char* const log_main_returned = "vm.main.returned";
const char* const log_vm_wait_start = "vm.exit.wait.start";
const char* const log_vm_wait_end = "vm.exit.wait.end";

// ---- VM class caches (fast start) -------------------------------------------------------
const char* const log_vm_cache_runtime = "vm.cache.runtime=%s version=%d";
const char* const log_vm_cache_none = "vm.cache.none (%s)";
const char* const text_vm_cache_no_release = "no release file beside the VM library";
const char* const text_vm_cache_unknown = "unknown runtime version '%s'";
const char* const text_vm_cache_own_options = "the package's VM options set class sharing";
const char* const text_vm_cache_too_old = "runtime version %d has no class cache to write";
const char* const text_vm_cache_failed = "the runtime could not make a class cache lately";
// Each VM option of fast start: the files property, then the cache's.
const char* const log_fast_option = "fast.option=%s";
const char* const log_vm_cache_use = "vm.cache.use=%s";
const char* const log_vm_cache_make = "vm.cache.make=%s";
// The cache file differs from the stamp written when it was made.
const char* const log_vm_cache_changed = "vm.cache.changed=%s";
const char* const log_vm_cache_made = "vm.cache.made=%s";
const char* const log_vm_cache_not_made = "vm.cache.not.made=%s";
const char* const log_vm_cache_rejected = "vm.cache.rejected=%s";
const char* const log_vm_cache_used = "vm.cache.used=%s";
// The launch loaded many classes the archive lacks: it is dumped again.
const char* const log_vm_cache_grows = "vm.cache.grows=%s (%d of %d classes lacking)";
const char* const log_vm_cache_builder = "vm.cache.builder=%s";
const char* const log_vm_cache_no_builder = "vm.cache.builder.failed=%s";
// In the builder, with -D* before -vmcache*.
const char* const log_vm_cache_building = "vm.cache.building=%s";

// ---- console relay --------------------------------------------------------------------
const char* const log_stderrfix = "stderrfix";

// ---- control channel --------------------------------------------------------------------
const char* const text_status_reply = "%s [PID=%d]";
const char* const text_dump_done = "OK";
const char* const text_command_status = "status";
const char* const text_command_dump = "dumpAllStacks";
const char* const text_dump_thread_name = "stackTracer";
const char* const log_control_none = "control.channel.none=%d";
const char* const log_dump_refused = "dump.file.refused=%s [err=%d]";

// ---- splash screen ---------------------------------------------------------------------
const char* const log_splash_image = "splash.image=%s";
const char* const log_splash_shown = "splash.shown=%s";
const char* const log_splash_failed = "splash.failed=%s";
const char* const log_splash_none = "splash.none=%s (%s)";
const char* const text_splash_no_library = "no splash library: a headless runtime";
const char* const text_splash_no_exports = "not a splash library";

// ---- single instance ------------------------------------------------------------------
const char* const log_instance_serving = "instance.serving=%s";
const char* const log_instance_handed = "instance.handed=%s [PID=%u]";
const char* const log_instance_no_channel = "instance.none=%s [err=%d]";
const char* const log_instance_no_answer = "instance.no.answer=%s (%s)";
const char* const log_instance_left = "instance.left.removed=%s";
const char* const log_instance_too_long = "instance.words.too.long=%d";
// In the running instance: words that came, and the call that takes them.
const char* const log_instance_words = "instance.words=%d";
const char* const log_instance_call = "instance.call=%s";
const char* const log_instance_no_method = "instance.method.missing=%s";
const char* const text_instance_thread_name = "glimvane-instance";
const char* const text_instance_request = "glimvane-words\n";
const char* const text_instance_taken = "OK";
