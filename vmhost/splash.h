// The splash screen: the package's image shown by the runtime's own splash
// library while the VM starts, so that java.awt.SplashScreen finds it in
// the program, which may draw on it and close it; the program's first
// window closes it too.
#pragma once

// The image file to show in this launch (null: none); kept until the
// process ends.
void splash_request(const char* image);
// Starts showing the requested image, on a thread of its own, with the
// splash library of the runtime whose VM library is `vm_library`; returns
// at once. Called once that VM library has loaded, while the runtime folder
// is the current directory and DLL directory. Without a request it does nothing; without a splash library (a
// headless runtime) the launch goes on without a splash and logs why.
void splash_start(const char* vm_library);
// Returns once the splash that splash_start began is shown or given up:
// before the program asks for it.
void splash_wait();
