// Packaged files built in memory, so that each test shows the fault it is
// about.
#pragma once

#include "payload/sections.h"
#include "payload/writer.h"

#include <cstdint>
#include <string>
#include <vector>

using bytes = std::vector<unsigned char>;

inline const unsigned char* data_of(const std::string& text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

// Appends fill up to a multiple of 16, a header and the payload; the
// header's offset.
inline int32_t add_section(bytes& file, char type, const std::string& payload)
{
    while (file.size() % 16) file.push_back(0xEE);
    size_t at = file.size();
    file.resize(at + section_header_size);
    put_section_header(&file[at], type, data_of(payload), int32_t(payload.size()));
    file.insert(file.end(), payload.begin(), payload.end());
    return int32_t(at);
}

// A stand-in launcher image: bytes that hold no header.
inline bytes image(size_t length = 100)
{
    return bytes(length, 'x');
}

// Every section the enumeration finds: offsets, then -91 if a signature
// failed.
inline std::vector<int32_t> enumerate(const bytes& file, int32_t length = -1)
{
    if (length < 0) length = int32_t(file.size());
    std::vector<int32_t> found;
    for (int32_t r = find_section(file.data(), 0, length); r != 0;
         r = find_section(file.data(), r + section_header_size + section_payload_length(&file[size_t(r)]), length)) {
        found.push_back(r);
        if (r < 0) break;
    }
    return found;
}
