// A Java runtime image (jlink output, JDK or JRE folder) as the packer
// packs it with --runtime and as inspect finds it in a package.
#pragma once

#include "runtime/discovery.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The folder below the package's files that holds the packed runtime, and
// the Vars key that names it.
const char* const runtime_folder = "runtime";
const char* const runtime_key = "runtime";

struct runtime_image {
    std::string version;  // JAVA_VERSION of its release file; empty when it has none
    std::string library;  // the VM library's path below the image; empty when there is none
    vm_binary binary;     // what the VM library's header says
    uint64_t size;        // bytes of all its files
};

// Reads up to `limit` bytes of the file at `relative` (with "/") below the
// image; false when there is no such file.
using image_reader = std::function<bool(const std::string& relative, size_t limit, std::vector<unsigned char>& out)>;

// What the image holds, read through `read`; `size` is passed through.
runtime_image read_runtime_image(const image_reader& read, uint64_t size);

// "Linux x86-64 (64-bit)", "Windows x86 (32-bit)", ... for a VM library's
// header (an ELF file counts as Linux: the POSIX stub is a Linux one).
std::string binary_target(const vm_binary& binary);

// Why a package of the stub whose header is `stub` cannot use the image,
// or empty: no release file, no VM library, or a VM library for another
// OS or bitness than the stub.
std::string runtime_problem(const runtime_image& image, const vm_binary& stub, const std::string& source);
