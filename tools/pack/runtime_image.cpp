#include "tools/pack/runtime_image.h"

#include "tools/pack/pack.h"
#include "tools/pack/texts.h"

namespace {

// The VM libraries a launcher looks for below a runtime home, on either OS.
const char* const library_paths[] = {"lib/server/libjvm.so", "bin/server/jvm.dll", "bin/client/jvm.dll"};
const size_t head_size = 4096;
const size_t release_limit = 64 * 1024;

// The value of KEY="value" (or KEY=value) in a release file.
std::string release_value(const std::string& text, const std::string& key)
{
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, key.size() + 1, key + "=") == 0) {
            std::string value = line.substr(key.size() + 1);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
            return value;
        }
        at = end + 1;
    }
    return "";
}

}  // namespace

runtime_image read_runtime_image(const image_reader& read, uint64_t size)
{
    runtime_image image{"", "", {false, false, 0, 0}, size};
    std::vector<unsigned char> data;
    if (read("release", release_limit, data)) image.version = release_value(std::string(data.begin(), data.end()), "JAVA_VERSION");
    for (const char* path : library_paths) {
        if (!read(path, head_size, data)) continue;
        image.library = path;
        image.binary = read_vm_binary(data.data(), data.size());
        break;
    }
    return image;
}

std::string binary_target(const vm_binary& binary)
{
    if (!binary.known) return text_target_unknown;
    std::string arch;
    switch (binary.machine) {
    case 0x14c: case 3: arch = "x86"; break;           // IMAGE_FILE_MACHINE_I386, EM_386
    case 0x8664: case 62: arch = "x86-64"; break;      // IMAGE_FILE_MACHINE_AMD64, EM_X86_64
    case 0xaa64: case 183: arch = "aarch64"; break;    // IMAGE_FILE_MACHINE_ARM64, EM_AARCH64
    default: arch = format("machine %#x", binary.machine);
    }
    return format("%s %s (%d-bit)", binary.pe ? "Windows" : "Linux", arch.c_str(), binary.bits);
}

std::string runtime_problem(const runtime_image& image, const vm_binary& stub, const std::string& source)
{
    if (image.version.empty()) return format(text_runtime_no_release, source.c_str());
    if (image.library.empty()) return format(text_runtime_no_library, source.c_str());
    const vm_binary& vm = image.binary;
    if (!vm.known || vm.pe != stub.pe || vm.bits != stub.bits || vm.machine != stub.machine)
        return format(text_runtime_other_target, source.c_str(), image.library.c_str(), binary_target(vm).c_str(),
                      binary_target(stub).c_str());
    return "";
}
