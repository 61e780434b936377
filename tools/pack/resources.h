// The Windows stubs' resources as glimvane-pack rewrites them: the user's
// icon, version information and the manifest's execution level, written in
// room the stub reserves, so that the image keeps its size and layout.
#pragma once

#include "tools/pack/pack.h"

#include <cstdint>
#include <string>
#include <vector>

// Takes --icon, --version-info and --execution-level; false when `option`
// is none of them, or with the reason in `error` when its value is wrong.
bool is_resource_option(const std::string& option);
bool apply_resource_option(pack_request& request, const std::string& option, const std::string& value,
                           std::string& error);

// The console variant next to a Windows stub (glimvane-x64.exe gives
// glimvane-x64-console.exe); empty with the reason in `error` otherwise.
std::string console_stub(const std::string& stub, std::string& error);

// Rewrites the resources of the stub image as the request asks; an empty
// text on success, otherwise why the stub or the input was refused.
std::string apply_resources(const pack_request& request, std::vector<unsigned char>& image);

// Where the Authenticode certificate table of a Windows image lies, read
// from its headers (`size` bytes of the image's start): false when it has none.
bool signature_table(const unsigned char* image, size_t size, uint32_t& offset, uint32_t& length, size_t& entry);

// Takes the stub's signature off its image (a package is signed after
// packing; the stub's signature would lie inside it, broken): `removed`
// says whether there was one; an error text when it cannot be taken off.
std::string remove_signature(std::vector<unsigned char>& image, const std::string& stub, bool& removed);
