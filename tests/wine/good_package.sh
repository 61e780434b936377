#!/usr/bin/env bash
# The windows-x64 launcher under Wine runs a good package made by the linux
# glimvane-pack, from a folder whose name has blanks, on the private runtime
# beside the EXE (the test VM): its temp folder is made below Wine's temp
# path and the files are written into it; the VM library is loaded with its
# runtime folder as current directory and gets the options, init arguments
# and boot argument array the launcher builds, all on the main thread; the
# VM's output reaches the console through the relay; the launch ends with 0
# and the removal child deletes the temp folder after exit. glimvane-pack
# inspect lists the files the launch extracted and the Vars text it passed.
stub=$1
pack=$2
source "$(dirname "$0")/lib.sh"

app="$work/my apps/demo app"
mkdir -p "$app"
install_runtime "$app/jre"
echo dll > "$work/x.dll"
pack_vm "$app/demo.exe" '"-Dtestvm.say=hello from the VM" "-Dapp.title=two words" -Xss2m' --name "Demo App" \
  --file "$work/x.dll=lib/native/x.dll" --var 'jvm=jre\bin\server\jvm.dll' --var mx=320
vm_launch "$app" demo.exe -D* one "two words" ''
[ $rc -eq 0 ] || fail "exit code $rc"
for line in "arg0='one'" "extracted=app.jar" "extracted=lib/native/x.dll" "C.exiting"; do
  has_line "$line" || fail "no line $line"
done
grep -q '^!C\.exit(0) \[m=[0-9]*\]' <<<"$out" || fail "no C.exit(0) line"
grep -qx 'hello from the VM' <<<"$out" || fail "the VM's output did not reach the console"

# Wine's temp path is a folder of the prefix's drive C.
temp_path=$(value temp.path)
folder=$(value temp.folder)
unix_temp=$(realpath -m "$(winepath -u "$temp_path" 2>/dev/null)")
unix_folder=$(realpath -m "$(winepath -u "$folder" 2>/dev/null)")
[[ "$unix_temp" == "$(cd "$WINEPREFIX/drive_c" && pwd -P)"/* ]] || fail "temp path $unix_temp is not below drive C"
[ -d "$unix_temp" ] || fail "temp path $unix_temp is no folder"
[[ "$unix_folder" == "$unix_temp"/GV* ]] || fail "temp folder $unix_folder is not below $unix_temp"

# What the VM library received.
module=$(winpath "$app/demo.exe")
expect_recorded library "$(winpath "$app/jre/bin/server/jvm.dll")"
expect_recorded load.cwd "$(winpath "$app/jre/bin")"
main_thread=$(recorded load.thread)
for key in create.thread boot.thread destroy.thread; do expect_recorded $key "$main_thread"; done
expect_recorded version 0x10002
expect_recorded nOptions 10
expect_recorded ignoreUnrecognized 1
expect_recorded 'option\[0\]' "-Djava.class.path=$(value java.class.path)"
expect_recorded 'option\[1\]' "-Djava.library.path=$(value java.library.path)"
expect_recorded 'option\[2\]' 'exit +extraInfo'
expect_recorded 'option\[3\]' 'abort +extraInfo'
expect_recorded 'option\[4\]' '-Xmx320m'
expect_recorded 'option\[5\]' "-Dtestvm.record=$(winpath "$record")"
expect_recorded 'option\[6\]' '-Dtestvm.say=hello from the VM'
expect_recorded 'option\[7\]' '-Dapp.title=two words'
expect_recorded 'option\[8\]' -Xss2m
# The main key and the words name the program.
expect_recorded 'option\[9\]' '-Dsun.java.command=app.Main one two words '
expect_recorded 'option\[10\]' ''
[[ "$(recorded 'option\[0\]')" == "-Djava.class.path=$folder;$folder\\app.jar;"* ]] ||
  fail "the class path does not begin with the temp folder and app.jar"
expect_recorded boot.count 8
expect_recorded 'boot\[0\]' RD
expect_recorded 'boot\[1\]' "$module"
expect_recorded 'boot\[2\]' "$folder"
# glimvane-pack inspect and the launch agree on the files and the Vars text.
inspected=$("$pack" inspect "$app/demo.exe") || fail "inspect refuses the package"
[ "$(sed -n "s/.*, file '\(.*\)' ([0-9]* bytes)$/\1/p" <<<"$inspected")" == \
  "$(printf '%s\n' "$out" | sed -n 's/^!extracted=\(.*\) \[[0-9]*\]$/\1/p')" ] ||
  fail "inspect lists other files than the launch extracted"
[ "$(awk '/^section .* type V/ {v = 1; next} /^section/ {v = 0} v {sub(/^    /, ""); print}' <<<"$inspected")" == \
  "$(tr -d '\r' <"$record" | awk '/^boot\[4\]=/ {v = 0} /^boot\[3\]=/ {v = 1; sub(/^boot\[3\]=/, "")} v && NF')" ] ||
  fail "the VM got another Vars text than inspect shows"
expect_recorded 'boot\[5\]' one
expect_recorded 'boot\[6\]' 'two words'
expect_recorded 'boot\[7\]' ''
# The boot class's natives are bound and callable: main is called through
# the VM with the words.
expect_recorded native "$(printf '%s\n' 'glimvaneboot launcherCalls ()Z' \
  'glimvaneboot handMain (Ljava/lang/Class;Ljava/lang/reflect/Method;[Ljava/lang/String;)V')"
expect_recorded natives.launcherCalls 1
expect_recorded from.reflected Main.main
# The launcher calls the handed main on its main thread once boot returned.
tr -d '\r' <"$record" | grep -qx natives.handMain.returned || fail "handMain did not return"
expect_recorded main.called 'Main 1 8'
expect_recorded main.thread "$main_thread"
[ "$(tr -d '\r' <"$record" | grep -n -e '^natives.handMain.returned$' -e '^main.called=' | cut -d: -f2 | head -1)" == \
  natives.handMain.returned ] || fail "main was called before boot handed it over"
expect_removed

# Without -D*, the flags element is R alone.
vm_launch "$app" demo.exe
[ $rc -eq 0 ] || fail "exit code $rc without -D*"
expect_recorded 'boot\[0\]' R
expect_recorded boot.count 5
echo "$name: ok"
