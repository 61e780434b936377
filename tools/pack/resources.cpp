#include "tools/pack/resources.h"

#include "payload/sections.h"
#include "payload/writer.h"
#include "tools/pack/texts.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

using bytes = std::vector<unsigned char>;

const uint32_t rt_icon = 3, rt_rcdata = 10, rt_group_icon = 14, rt_version = 16, rt_manifest = 24;
const char* const room_name = "GLIMVANE_ROOM";
const char* const levels[] = {"asInvoker", "highestAvailable", "requireAdministrator"};
const size_t text_limit = 255;  // bytes of a version information text
// An icon larger than the room reserved for it cannot fit: refused unread.
const uint64_t icon_size_limit = 1 << 20;

uint32_t get16(const bytes& b, size_t at)
{
    return at + 2 <= b.size() ? uint32_t(b[at] | b[at + 1] << 8) : 0;
}

uint32_t get32(const bytes& b, size_t at)
{
    return at + 4 <= b.size() ? get16(b, at) | get16(b, at + 2) << 16 : 0;
}

void put16(bytes& b, size_t at, uint32_t v)
{
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}

void put32(bytes& b, size_t at, uint32_t v)
{
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

void append16(bytes& b, uint32_t v)
{
    b.resize(b.size() + 2);
    put16(b, b.size() - 2, v);
}

void append32(bytes& b, uint32_t v)
{
    b.resize(b.size() + 4);
    put32(b, b.size() - 4, v);
}

void align4(bytes& b)
{
    b.resize((b.size() + 3) / 4 * 4);
}

// ---------------------------------------------------------------- PE image

struct pe_section {
    uint32_t address, raw_size, raw_offset;
};

struct resource {
    uint32_t type;
    uint32_t id;       // 0 for a named resource
    std::string name;  // ASCII name, for a named resource
    size_t entry;      // file offset of its data entry: address, size
    uint32_t address;
    uint32_t size;
};

struct pe_image {
    uint32_t subsystem = 0;
    std::vector<pe_section> sections;
    std::vector<resource> resources;
};

// The file offset of `size` bytes at a relative virtual address, or 0 when
// they do not all lie in the file data of one section.
size_t file_offset(const pe_image& pe, size_t file_size, uint32_t address, uint64_t size)
{
    for (const pe_section& s : pe.sections)
        if (address >= s.address && uint64_t(address) + size <= uint64_t(s.address) + s.raw_size &&
            uint64_t(s.raw_offset) + s.raw_size <= file_size)
            return s.raw_offset + (address - s.address);
    return 0;
}

// Reads the three levels of the resource directory (type, name, language);
// false when the directory leaves the section. `base` is its file offset.
bool read_directory(const bytes& b, size_t base, size_t limit, size_t at, int level, resource r,
                    std::vector<resource>& out)
{
    if (at + 16 > limit) return false;
    size_t count = get16(b, at + 12) + get16(b, at + 14);
    if (at + 16 + 8 * count > limit) return false;
    for (size_t i = 0; i < count; i++) {
        size_t e = at + 16 + 8 * i;
        uint32_t name = get32(b, e), target = get32(b, e + 4);
        if (level == 1) {
            r.id = name & 0x80000000u ? 0 : name;
            r.name.clear();
            if (name & 0x80000000u) {
                size_t s = base + (name & 0x7FFFFFFFu);
                size_t n = get16(b, s);
                if (s + 2 + 2 * n > limit) return false;
                for (size_t k = 0; k < n; k++) r.name += char(get16(b, s + 2 + 2 * k));
            }
        }
        if (level == 0) r.type = name & 0x80000000u ? 0 : name;
        bool directory = (target & 0x80000000u) != 0;
        size_t next = base + (target & 0x7FFFFFFFu);
        if (directory != (level < 2)) return false;
        if (directory) {
            if (!read_directory(b, base, limit, next, level + 1, r, out)) return false;
        } else {
            if (next + 16 > limit) return false;
            r.entry = next;
            r.address = get32(b, next);
            r.size = get32(b, next + 4);
            out.push_back(r);
        }
    }
    return true;
}

bool read_pe(const bytes& b, pe_image& pe)
{
    if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return false;
    size_t nt = get32(b, 0x3C);
    if (nt + 24 > b.size() || memcmp(&b[nt], "PE\0\0", 4) != 0) return false;
    size_t optional = nt + 24, optional_size = get16(b, nt + 20);
    uint32_t magic = get16(b, optional);
    if (magic != 0x10B && magic != 0x20B) return false;
    size_t directories = optional + (magic == 0x10B ? 96 : 112);
    uint32_t directory_count = get32(b, directories - 4);
    if (directory_count < 3 || directories + 24 > optional + optional_size) return false;
    pe.subsystem = get16(b, optional + 68);
    size_t table = optional + optional_size;
    for (size_t i = 0, n = get16(b, nt + 6); i < n; i++) {
        size_t s = table + 40 * i;
        if (s + 40 > b.size()) return false;
        pe.sections.push_back({get32(b, s + 12), get32(b, s + 16), get32(b, s + 20)});
    }
    uint32_t address = get32(b, directories + 16), size = get32(b, directories + 20);
    size_t base = file_offset(pe, b.size(), address, size);
    return base != 0 && read_directory(b, base, base + size, base, 0, resource{}, pe.resources);
}

const resource* find_resource(const pe_image& pe, uint32_t type, uint32_t id, const char* name)
{
    for (const resource& r : pe.resources)
        if (r.type == type && (name ? r.name == name : id == 0 || r.id == id)) return &r;
    return nullptr;
}

// ---------------------------------------------------------------- icon

// Checks the .ico file; its images in order, or the reason it is refused.
std::string read_icon(const bytes& ico, size_t slots, std::vector<std::pair<size_t, size_t>>& images)
{
    size_t count = get16(ico, 4);
    if (ico.size() < 6 || get16(ico, 0) != 0 || get16(ico, 2) != 1 || count == 0 || 6 + 16 * count > ico.size())
        return text_icon_header;
    if (count > slots) return format(text_icon_count, int(count), int(slots));
    for (size_t i = 0; i < count; i++) {
        size_t size = get32(ico, 6 + 16 * i + 8), at = get32(ico, 6 + 16 * i + 12);
        if (size < 8 || at < 6 + 16 * count || uint64_t(at) + size > ico.size())
            return format(text_icon_entry, int(i + 1));
        uint32_t header = get32(ico, at);
        bool png = memcmp(&ico[at], "\x89PNG\r\n\x1a\n", 8) == 0;
        if (!png && header != 40 && header != 108 && header != 124) return format(text_icon_image, int(i + 1));
        images.emplace_back(at, size);
    }
    return "";
}

// ---------------------------------------------------------------- version information

bool utf16_of(const std::string& text, std::u16string& out)
{
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || i + size_t(extra) >= text.size()) return false;
        uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; k++) {
            unsigned char next = static_cast<unsigned char>(text[i + size_t(k)]);
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3F);
        }
        const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000) || code < 0x20 ||
            code == 0x7F)
            return false;
        if (code >= 0x10000) {
            out += char16_t(0xD800 + ((code - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += char16_t(code);
        }
        i += size_t(extra) + 1;
    }
    return true;
}

// One node of the version information tree: length, value length, type,
// key, padding, value, padding, children. The length leaves out the padding
// after the last child.
bytes version_node(const char* key, const bytes& value, uint32_t value_length, uint32_t type,
                   const std::vector<bytes>& children)
{
    bytes node(6);
    std::u16string wide;
    utf16_of(key, wide);
    for (char16_t c : wide) append16(node, c);
    append16(node, 0);
    align4(node);
    node.insert(node.end(), value.begin(), value.end());
    for (const bytes& child : children) {
        align4(node);
        node.insert(node.end(), child.begin(), child.end());
    }
    put16(node, 0, uint32_t(node.size()));
    put16(node, 2, value_length);
    put16(node, 4, type);
    return node;
}

bytes version_string(const char* key, const std::u16string& text)
{
    bytes value;
    for (char16_t c : text) append16(value, c);
    append16(value, 0);
    return version_node(key, value, uint32_t(text.size() + 1), 1, {});
}

// The version's numbers as the fixed part holds them: two 32-bit words.
bool version_numbers(const std::string& version, uint32_t& high, uint32_t& low)
{
    uint32_t groups[4] = {};
    size_t at = 0;
    int n = 0;
    while (n < 4 && at < version.size() && isdigit(static_cast<unsigned char>(version[at]))) {
        uint32_t v = 0;
        while (at < version.size() && isdigit(static_cast<unsigned char>(version[at])) && v <= 65535)
            v = v * 10 + uint32_t(version[at++] - '0');
        if (v > 65535) return false;
        groups[n++] = v;
        if (at < version.size() && version[at] == '.' && at + 1 < version.size() &&
            isdigit(static_cast<unsigned char>(version[at + 1])))
            at++;
        else
            break;
    }
    if (n == 0 || (at < version.size() && (isdigit(static_cast<unsigned char>(version[at])) || version[at] == '.')))
        return false;
    high = groups[0] << 16 | groups[1];
    low = groups[2] << 16 | groups[3];
    return true;
}

bytes version_info(const pack_request& request)
{
    std::u16string name, version, exe;
    utf16_of(request.version_name, name);
    utf16_of(request.version_text, version);
    std::string out_name = request.out.substr(request.out.find_last_of("/\\") + 1);
    if (!utf16_of(out_name, exe)) exe.clear();
    uint32_t high = 0, low = 0;
    version_numbers(request.version_text, high, low);
    bytes fixed;
    for (uint32_t v : {0xFEEF04BDu, 0x00010000u, high, low, high, low, 0x3Fu, 0u, 0x40004u, 1u, 0u, 0u, 0u})
        append32(fixed, v);
    bytes translation;
    append16(translation, 0x0409);
    append16(translation, 1200);
    std::vector<bytes> strings = {version_string("FileDescription", name), version_string("FileVersion", version),
                                  version_string("ProductName", name), version_string("ProductVersion", version)};
    if (!exe.empty()) strings.push_back(version_string("OriginalFilename", exe));
    bytes table = version_node("040904B0", {}, 0, 1, strings);
    bytes string_info = version_node("StringFileInfo", {}, 0, 1, {table});
    bytes var_info = version_node("VarFileInfo", {}, 0, 1, {version_node("Translation", translation, 4, 0, {})});
    return version_node("VS_VERSION_INFO", fixed, uint32_t(fixed.size()), 0, {string_info, var_info});
}

// ---------------------------------------------------------------- rewriting

void point_at(bytes& image, const resource& r, uint32_t address, uint32_t size)
{
    put32(image, r.entry, address);
    put32(image, r.entry + 4, size);
}

// Replaces the value of the manifest's level attribute, padding with spaces
// after its closing quote so the manifest keeps its length.
bool set_level(bytes& image, size_t at, size_t size, const std::string& level)
{
    std::string text(image.begin() + ptrdiff_t(at), image.begin() + ptrdiff_t(at + size));
    const std::string attribute = "level=\"";
    size_t start = text.find(attribute);
    if (start == std::string::npos || text.find(attribute, start + 1) != std::string::npos) return false;
    start += attribute.size();
    size_t end = text.find('"', start);
    if (end == std::string::npos || end - start < level.size()) return false;
    std::string replaced = level + "\"" + std::string(end - start - level.size(), ' ');
    std::copy(replaced.begin(), replaced.end(), image.begin() + ptrdiff_t(at + start));
    return true;
}

}  // namespace

bool signature_table(const unsigned char* image, size_t size, uint32_t& offset, uint32_t& length, size_t& entry)
{
    bytes b(image, image + size);
    if (!windows_image(image, size) || size < 64) return false;
    size_t nt = get32(b, 0x3C);
    if (nt + 24 > size || memcmp(&b[nt], "PE\0\0", 4) != 0) return false;
    uint32_t magic = get16(b, nt + 24);
    size_t directories = nt + 24 + (magic == 0x20B ? 112 : 96);
    const uint32_t security = 4;  // the fifth data directory
    entry = directories + 8 * security;
    if ((magic != 0x10B && magic != 0x20B) || get32(b, directories - 4) <= security || entry + 8 > size) return false;
    offset = get32(b, entry);
    length = get32(b, entry + 4);
    return offset != 0 && length != 0;
}

std::string remove_signature(std::vector<unsigned char>& image, const std::string& stub, bool& removed)
{
    uint32_t offset, length;
    size_t entry;
    removed = signature_table(image.data(), image.size(), offset, length, entry);
    if (!removed) return "";
    // Signing appends the table at the end; cut there, the entry cleared.
    if (uint64_t(offset) + length != image.size()) return format(text_signature_inside, stub.c_str());
    image.resize(offset);
    put32(image, entry, 0);
    put32(image, entry + 4, 0);
    return "";
}

bool is_resource_option(const std::string& option)
{
    return option == "--icon" || option == "--version-info" || option == "--execution-level";
}

bool apply_resource_option(pack_request& request, const std::string& option, const std::string& value,
                           std::string& error)
{
    std::string& target = option == "--icon"              ? request.icon
                          : option == "--execution-level" ? request.execution_level
                                                          : request.version_name;
    if (!target.empty()) {
        error = format(text_once_only, option.c_str());
        return false;
    }
    if (option == "--icon") {
        request.icon = value;
    } else if (option == "--execution-level") {
        if (std::none_of(std::begin(levels), std::end(levels), [&](const char* l) { return value == l; }))
            error = format(text_bad_level, value.c_str());
        request.execution_level = value;
    } else {
        size_t comma = value.rfind(',');
        uint32_t high, low;
        std::u16string wide;
        if (comma == std::string::npos || comma == 0 || comma > text_limit || value.size() - comma - 1 > text_limit ||
            !version_numbers(value.substr(comma + 1), high, low))
            error = format(text_bad_version_info, value.c_str());
        else if (!utf16_of(value, wide))
            error = format(text_bad_utf8, value.c_str());
        else {
            request.version_name = value.substr(0, comma);
            request.version_text = value.substr(comma + 1);
        }
    }
    return error.empty();
}

std::string console_stub(const std::string& stub, std::string& error)
{
    size_t dot = stub.size() >= 4 ? stub.size() - 4 : 0;
    std::string extension = stub.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    if (extension != ".exe") {
        error = format(text_not_windows_stub, stub.c_str());
        return "";
    }
    const std::string variant = "-console";
    std::string stem = stub.substr(0, dot);
    if (stem.size() >= variant.size() && stem.compare(stem.size() - variant.size(), variant.size(), variant) == 0)
        return stub;
    return stem + variant + stub.substr(dot);
}

std::string apply_resources(const pack_request& request, std::vector<unsigned char>& image)
{
    if (request.icon.empty() && request.version_name.empty() && request.execution_level.empty() && !request.console)
        return "";
    pe_image pe;
    if (!read_pe(image, pe)) return format(text_not_windows_stub, request.stub.c_str());
    if (request.console && pe.subsystem != 3) return format(text_not_console, request.stub.c_str());

    const resource* room = find_resource(pe, rt_rcdata, 0, room_name);
    const resource* group = find_resource(pe, rt_group_icon, 0, nullptr);
    const resource* version = find_resource(pe, rt_version, 0, nullptr);
    const resource* manifest = find_resource(pe, rt_manifest, 0, nullptr);
    std::vector<resource> slots;
    for (const resource& r : pe.resources)
        if (r.type == rt_icon) slots.push_back(r);
    std::sort(slots.begin(), slots.end(), [](const resource& a, const resource& b) { return a.id < b.id; });
    size_t room_at = room ? file_offset(pe, image.size(), room->address, room->size) : 0;
    size_t manifest_at = manifest ? file_offset(pe, image.size(), manifest->address, manifest->size) : 0;
    if (!room_at || !group || !version || !manifest_at || slots.empty())
        return format(text_stub_resources, request.stub.c_str(), "icon, version, manifest or room");

    if (!request.execution_level.empty() && !set_level(image, manifest_at, manifest->size, request.execution_level))
        return format(text_stub_resources, request.stub.c_str(), "execution level");

    // The room receives the icon group, its images and the version
    // information, each at a multiple of 8; the resources are pointed there.
    bytes content;
    auto place = [&](const resource& r, const unsigned char* data, size_t size) {
        content.resize((content.size() + 7) / 8 * 8);
        point_at(image, r, room->address + uint32_t(content.size()), uint32_t(size));
        content.insert(content.end(), data, data + size);
    };
    if (!request.icon.empty()) {
        bytes ico;
        std::string error;
        if (!read_file(request.icon, ico, error, icon_size_limit)) return error;
        std::vector<std::pair<size_t, size_t>> images;
        if (!(error = read_icon(ico, slots.size(), images)).empty())
            return format(text_bad_icon, request.icon.c_str(), error.c_str());
        bytes directory(ico.begin(), ico.begin() + 6);
        for (size_t i = 0; i < images.size(); i++) {
            directory.insert(directory.end(), ico.begin() + ptrdiff_t(6 + 16 * i), ico.begin() + ptrdiff_t(6 + 16 * i + 12));
            append16(directory, slots[i].id);
        }
        place(*group, directory.data(), directory.size());
        for (size_t i = 0; i < images.size(); i++) place(slots[i], &ico[images[i].first], images[i].second);
        // Slots the icon does not use hold nothing, not the launcher's images.
        for (size_t i = images.size(); i < slots.size(); i++) point_at(image, slots[i], room->address, 0);
    }
    if (!request.version_name.empty()) {
        bytes info = version_info(request);
        place(*version, info.data(), info.size());
    }
    if (content.size() > room->size)
        return format(text_room_full, (unsigned long long)content.size(), (unsigned long long)room->size);
    std::copy(content.begin(), content.end(), image.begin() + ptrdiff_t(room_at));

    // The user's bytes must not look like a section header to the launcher's
    // scan, nor like the block's marker to the packer and inspect.
    size_t marker;
    if (find_header(image.data(), 0, int32_t(image.size())) != 0 ||
        count_config_markers(image.data(), image.size(), &marker) != 1)
        return text_room_scan;
    return "";
}
