#include "tools/pack/jar.h"

#include "tools/pack/pack.h"
#include "tools/pack/texts.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <set>

namespace {

using bytes = std::vector<unsigned char>;

// A manifest larger than this is no manifest a runtime reads in practice.
const size_t manifest_limit = 1 << 20;

uint32_t get16(const unsigned char* p)
{
    return uint32_t(p[0] | p[1] << 8);
}

uint32_t get32(const unsigned char* p)
{
    return get16(p) | get16(p + 2) << 16;
}

// ---------------------------------------------------------------- inflate

struct bit_input {
    const unsigned char* in;
    size_t size, at = 0;
    uint32_t buffer = 0;
    int count = 0;
    bool bad = false;

    int bits(int need)
    {
        while (count < need) {
            if (at == size) {
                bad = true;
                return 0;
            }
            buffer |= uint32_t(in[at++]) << count;
            count += 8;
        }
        int value = int(buffer & ((1u << need) - 1));
        buffer >>= need;
        count -= need;
        return value;
    }
};

// A canonical Huffman code: the number of codes of each length, and the
// symbols in code order.
struct huffman {
    short count[16];
    short symbol[288];
};

// 0 for a complete code, > 0 for an incomplete one, < 0 for one that is
// over-subscribed.
int build(huffman& h, const short* length, int n)
{
    std::fill(std::begin(h.count), std::end(h.count), short(0));
    for (int s = 0; s < n; s++) h.count[length[s]]++;
    if (h.count[0] == n) return 0;
    int left = 1;
    for (int len = 1; len < 16; len++) {
        left = left * 2 - h.count[len];
        if (left < 0) return left;
    }
    short offset[16] = {0, 0};
    for (int len = 1; len < 15; len++) offset[len + 1] = short(offset[len] + h.count[len]);
    for (int s = 0; s < n; s++)
        if (length[s]) h.symbol[offset[length[s]]++] = short(s);
    return left;
}

int decode(bit_input& in, const huffman& h)
{
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; len++) {
        code |= in.bits(1);
        int count = h.count[len];
        if (code - count < first) return h.symbol[index + (code - first)];
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1;
}

bool inflate_codes(bit_input& in, const huffman& lengths, const huffman& distances, size_t limit, std::string& out)
{
    static const short length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const short length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const short distance_base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                            33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                            1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static const short distance_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    for (;;) {
        int symbol = decode(in, lengths);
        if (symbol < 0 || in.bad) return false;
        if (symbol == 256) return true;
        if (symbol < 256) {
            out += char(symbol);
        } else {
            symbol -= 257;
            if (symbol >= 29) return false;
            size_t length = size_t(length_base[symbol] + in.bits(length_extra[symbol]));
            symbol = decode(in, distances);
            if (symbol < 0 || symbol >= 30) return false;
            size_t distance = size_t(distance_base[symbol] + in.bits(distance_extra[symbol]));
            if (in.bad || distance > out.size()) return false;
            for (size_t i = 0; i < length; i++) out += out[out.size() - distance];
        }
        if (out.size() > limit) return false;
    }
}

bool inflate_dynamic(bit_input& in, size_t limit, std::string& out)
{
    static const short order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int nlen = in.bits(5) + 257, ndist = in.bits(5) + 1, ncode = in.bits(4) + 4;
    if (nlen > 286 || ndist > 30) return false;
    short length[320] = {};
    for (int i = 0; i < ncode; i++) length[order[i]] = short(in.bits(3));
    huffman lengths, distances;
    if (build(lengths, length, 19) != 0) return false;
    for (int index = 0; index < nlen + ndist;) {
        int symbol = decode(in, lengths);
        if (symbol < 0 || in.bad) return false;
        if (symbol < 16) {
            length[index++] = short(symbol);
            continue;
        }
        short repeat = 0;
        int times;
        if (symbol == 16) {
            if (index == 0) return false;
            repeat = length[index - 1];
            times = 3 + in.bits(2);
        } else {
            times = symbol == 17 ? 3 + in.bits(3) : 11 + in.bits(7);
        }
        if (index + times > nlen + ndist) return false;
        while (times--) length[index++] = repeat;
    }
    if (length[256] == 0) return false;
    int err = build(lengths, length, nlen);
    if (err < 0 || (err > 0 && nlen - lengths.count[0] != 1)) return false;
    err = build(distances, length + nlen, ndist);
    if (err < 0 || (err > 0 && ndist - distances.count[0] != 1)) return false;
    return inflate_codes(in, lengths, distances, limit, out);
}

bool inflate_fixed(bit_input& in, size_t limit, std::string& out)
{
    short length[288 + 30];
    for (int s = 0; s < 288; s++) length[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    for (int s = 0; s < 30; s++) length[288 + s] = 5;
    huffman lengths, distances;
    build(lengths, length, 288);
    build(distances, length + 288, 30);
    return inflate_codes(in, lengths, distances, limit, out);
}

bool inflate_stored(bit_input& in, size_t limit, std::string& out)
{
    in.buffer = 0;
    in.count = 0;
    if (in.size - in.at < 4) return false;
    uint32_t n = get16(in.in + in.at), check = get16(in.in + in.at + 2);
    in.at += 4;
    if (n != (~check & 0xFFFF) || in.size - in.at < n || out.size() + n > limit) return false;
    out.append(reinterpret_cast<const char*>(in.in + in.at), n);
    in.at += n;
    return true;
}

// ---------------------------------------------------------------- zip and manifest

bool read_bytes_at(const file_reader& read, uint64_t offset, size_t n, bytes& out)
{
    out.resize(n);
    return n == 0 || read(offset, n, out.data());
}

std::string lower(std::string text)
{
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The bytes of the entry `wanted` (any letter case with `any_case`) into
// out, at most `limit` of them; false when there is no such entry or it
// cannot be read.
bool entry_of(const file_reader& read, uint64_t size, const std::string& wanted, bool any_case, size_t limit,
              std::string& out)
{
    out.clear();
    // The end record lies in the last 22 + 65535 bytes (its comment).
    size_t tail = size_t(std::min<uint64_t>(size, 22 + 65535));
    bytes end;
    if (tail < 22 || !read_bytes_at(read, size - tail, tail, end)) return false;
    size_t at = tail - 22 + 1;
    do {
        at--;
    } while (at > 0 && get32(&end[at]) != 0x06054b50);
    if (get32(&end[at]) != 0x06054b50) return false;
    uint64_t directory = get32(&end[at + 16]), directory_size = get32(&end[at + 12]);
    if (directory + directory_size > size || directory_size > (64u << 20)) return false;
    bytes entries;
    if (!read_bytes_at(read, directory, size_t(directory_size), entries)) return false;
    for (size_t e = 0; e + 46 <= entries.size() && get32(&entries[e]) == 0x02014b50;) {
        size_t name_size = get16(&entries[e + 28]);
        size_t next = e + 46 + name_size + get16(&entries[e + 30]) + get16(&entries[e + 32]);
        if (e + 46 + name_size > entries.size()) return false;
        std::string name(reinterpret_cast<const char*>(&entries[e + 46]), name_size);
        if (any_case ? lower(name) != lower(wanted) : name != wanted) {
            e = next;
            continue;
        }
        uint32_t method = get16(&entries[e + 10]);
        uint64_t packed = get32(&entries[e + 20]), local = get32(&entries[e + 42]);
        bytes head;
        if (packed > limit || !read_bytes_at(read, local, 30, head) || get32(head.data()) != 0x04034b50)
            return false;
        uint64_t data = local + 30 + get16(&head[26]) + get16(&head[28]);
        bytes body;
        if (data + packed > size || !read_bytes_at(read, data, size_t(packed), body)) return false;
        if (method == 0) out.assign(body.begin(), body.end());
        return method == 0 || (method == 8 && inflate_bytes(body.data(), body.size(), limit, out));
    }
    return false;
}

// The manifest's text, or empty.
std::string manifest_text(const file_reader& read, uint64_t size)
{
    std::string text;
    return entry_of(read, size, "META-INF/MANIFEST.MF", true, manifest_limit, text) ? text : "";
}

// The value of a main-section attribute, continuation lines joined.
std::string attribute(const std::string& manifest, const std::string& name)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < manifest.size();) {
        size_t end = manifest.find_first_of("\r\n", at);
        if (end == std::string::npos) end = manifest.size();
        std::string line = manifest.substr(at, end - at);
        if (line.empty()) break;  // the main section ends at the first empty line
        if (line[0] == ' ' && !lines.empty())
            lines.back() += line.substr(1);
        else
            lines.push_back(line);
        at = end + (manifest.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    for (const std::string& line : lines)
        if (lower(line.substr(0, name.size() + 1)) == lower(name) + ":") {
            size_t start = line.find_first_not_of(' ', name.size() + 1);
            return start == std::string::npos ? "" : line.substr(start);
        }
    return "";
}

std::string percent_decoded(const std::string& url)
{
    std::string text;
    for (size_t i = 0; i < url.size(); i++) {
        if (url[i] == '%' && i + 2 < url.size() && isxdigit(static_cast<unsigned char>(url[i + 1])) &&
            isxdigit(static_cast<unsigned char>(url[i + 2]))) {
            text += char(std::stoi(url.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            text += url[i];
        }
    }
    return text;
}

// The stored path a relative entry names beside `jar`, or empty when it
// leads above the package's root.
std::string resolve(const std::string& jar, const std::string& entry)
{
    std::vector<std::string> parts;
    std::string path = jar;
    for (char& c : path) c = c == '\\' ? '/' : c;
    path = path.substr(0, path.find_last_of('/') + 1) + entry;
    for (size_t at = 0; at <= path.size();) {
        size_t end = std::min(path.find('/', at), path.size());
        std::string part = path.substr(at, end - at);
        if (part == "..") {
            if (parts.empty()) return "";
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string resolved;
    for (const std::string& part : parts) resolved += (resolved.empty() ? "" : "/") + part;
    return resolved;
}

bool absolute(const std::string& entry)
{
    size_t colon = entry.find(':');
    bool scheme = colon != std::string::npos && colon > 0 &&
                  std::all_of(entry.begin(), entry.begin() + std::ptrdiff_t(colon),
                              [](char c) { return isalnum(static_cast<unsigned char>(c)) || strchr("+-.", c); });
    return scheme || entry[0] == '/' || entry[0] == '\\';
}

}  // namespace

bool inflate_bytes(const unsigned char* in, size_t size, size_t limit, std::string& out)
{
    bit_input input{in, size};
    for (int last = 0; !last;) {
        last = input.bits(1);
        int type = input.bits(2);
        bool ok = type == 0 ? inflate_stored(input, limit, out)
                : type == 1 ? inflate_fixed(input, limit, out)
                : type == 2 ? inflate_dynamic(input, limit, out)
                            : false;
        if (!ok || input.bad) return false;
    }
    return true;
}

std::string manifest_attribute(const file_reader& read, uint64_t size, const std::string& name)
{
    return attribute(manifest_text(read, size), name);
}

bool entry_bytes(const file_reader& read, uint64_t size, const std::string& name, size_t limit, std::string& out)
{
    return entry_of(read, size, name, false, limit, out);
}

std::vector<std::string> class_path_entries(const file_reader& read, uint64_t size)
{
    std::vector<std::string> entries;
    std::string value = manifest_attribute(read, size, "Class-Path");
    for (size_t at = value.find_first_not_of(' '); at != std::string::npos; at = value.find_first_not_of(' ', at)) {
        size_t end = std::min(value.find(' ', at), value.size());
        entries.push_back(percent_decoded(value.substr(at, end - at)));
        at = end;
    }
    return entries;
}

std::vector<std::string> class_path_warnings(const std::string& jars, const std::vector<packed_entry>& files,
                                             bool windows)
{
    auto key = [windows](std::string path) {
        for (char& c : path) c = c == '\\' ? '/' : windows ? char(std::tolower(static_cast<unsigned char>(c))) : c;
        return path;
    };
    std::vector<size_t> todo;
    auto find = [&](const std::string& stored) {
        for (size_t i = 0; i < files.size(); i++)
            if (key(files[i].stored) == key(stored)) return i;
        return files.size();
    };
    for (size_t at = 0; at < jars.size();) {
        size_t end = std::min(jars.find(';', at), jars.size());
        size_t i = find(jars.substr(at, end - at));
        if (i < files.size()) todo.push_back(i);
        at = end + 1;
    }
    std::vector<std::string> warnings;
    std::set<size_t> seen(todo.begin(), todo.end());
    while (!todo.empty()) {
        const packed_entry& jar = files[todo.front()];
        todo.erase(todo.begin());
        for (const std::string& entry : class_path_entries(jar.read, jar.size)) {
            if (absolute(entry)) {
                warnings.push_back(format(text_class_path_absolute, jar.label.c_str(), entry.c_str()));
                continue;
            }
            std::string resolved = resolve(jar.stored, entry);
            size_t i = resolved.empty() ? files.size() : find(resolved);
            bool folder = !resolved.empty() && std::any_of(files.begin(), files.end(), [&](const packed_entry& f) {
                return key(f.stored).compare(0, resolved.size() + 1, key(resolved) + "/") == 0;
            });
            if (i == files.size() && !folder)
                warnings.push_back(format(text_class_path_missing, jar.label.c_str(), entry.c_str()));
            else if (i < files.size() && seen.insert(i).second)
                todo.push_back(i);
        }
    }
    return warnings;
}
