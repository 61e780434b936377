#!/usr/bin/env bash
# How a launch ends under Wine, scripted through the test VM: the exit code,
# the error block on standard output, the error box shown (Wine shows it
# headless and returns at once, so no launch may hang) and the temp folder
# removed by the detached child whichever way the launch ended, including
# the exit and abort hooks that the VM calls through the option list.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"

install_runtime "$work/jre"
pack_vm "$work/bare.exe" ''

# windows_exit_code EXE WORDS...: the whole exit code, as cmd sees it.
windows_exit_code() {
  printf 'start "" /wait %s\r\necho code=%%errorlevel%%\r\n' "$*" >"$work/code.cmd"
  (cd "$work" && timeout 120 wine cmd /c code.cmd 2>/dev/null) | tr -d '\r' | sed -n 's/^code=\([0-9-]*\) *$/\1/p'
}

# exit code | leading switches | test VM options | text on standard output |
# text on standard error
cases=(
  '3||-Dtestvm.boot=exit:3|'
  '666||-Dtestvm.boot=abort|'
  '11|-jvm:Z:\nowhere\jvm.dll||ERROR #11: Failure loading/binding to the Java VM DLL'
  '11|-jvm:C:\windows\system32\kernel32.dll||JVM=C:\windows\system32\kernel32.dll'
  '12||-Dtestvm.create=-6|ERROR #12: JNI_CreateJavaVM() could not create a Java Runtime Environemnt [err=-6]'
  '13||-Dtestvm.boot=noclass|ERROR #13: The Java VM failed to locate the glimvaneboot.class file'
  '13||-Dtestvm.boot=nomethod|ERROR #13: The Java VM failed to locate the glimvaneboot.class file'
  '14||-Dtestvm.boot=throw|ERROR #14: Unexpected Java VM exception|java.lang.IllegalStateException: testvm'
  '57||"-Dtestvm.boot=text:57: the application refused"|ERROR #57: the application refused'
)
for entry in "${cases[@]}"; do
  IFS='|' read -r code switch options text error_text <<<"$entry"
  if [ -n "$switch" ]; then
    # The -jvm: switch counts only where no private runtime is beside the EXE.
    exe=bare.exe
    words=("$switch" -D*)
  else
    exe=app.exe
    pack_vm "$work/app.exe" "$options" --var 'jvm=jre\bin\server\jvm.dll'
    words=(-D*)
  fi
  vm_launch "$work" "$exe" "${words[@]}"
  # Wine hands the Unix side the low 8 bits of the exit code.
  [ $rc -eq $((code % 256)) ] || fail "$entry: exit code $rc"
  [ "$code" -lt 256 ] || [ "$(windows_exit_code "$exe" -Q*)" == "$code" ] || fail "$entry: cmd saw another exit code"
  [ -z "$text" ] || grep -qF -- "$text" <<<"$out" || fail "$entry: no '$text' in the output"
  [ -z "$error_text" ] || grep -qF -- "$error_text" "$work/stderr" || fail "$entry: no '$error_text' on standard error"
  expect_removed
done
echo "$name: ok"
