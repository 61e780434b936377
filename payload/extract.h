// File sections: descrambling and writing their records below the temp folder.
#pragma once

#include <cstddef>
#include <cstdint>

// A fresh tracked block holding the plain payload of a file section.
unsigned char* descramble_section(const unsigned char* header);
// Writes the record below the temp folder; a tracked copy of the written
// file's path, or null when it was not written (or the record is refused).
// `length` is the plain payload's length.
char* extract_file(const unsigned char* record, int32_t length);
// extract_file for the file section (F, B, J or C) whose header this is,
// read in place: the contents pass to the file through buffers of fixed
// size, descrambled or inflated on the way. Written below `folder` instead
// when one is given. Threads that extract side by side each pass a
// `thread` of their own, below extract_threads (0: the launch's).
const int extract_threads = 2;
char* extract_section(const unsigned char* header, const char* folder = nullptr, int thread = 0);
bool write_whole_file(const char* path, const void* data, size_t length);
void make_dirs(const char* base, const char* relative);

// Undoes the scrambling of `length` payload bytes, the first of which stands
// at payload position `first` (0 is the first payload byte); `in` and `out`
// may be the same buffer.
void descramble_bytes(const unsigned char* in, unsigned char* out, size_t length, size_t first = 0);

// The plain file record: byte 0 is n, the relative path and its NUL start
// at byte 1, the 32-bit little-endian size s sits at n + 6 and the contents
// at n + 10. The packaging tool stores n = the path's length and zeros in
// the four bytes between the path's NUL and the size.
//
// A compressed file section (type C, not scrambled) holds the same head
// with the CRC-32 of the plain contents in the four bytes after the path's
// NUL; s is the plain size, and a zlib stream of the contents runs from
// n + 10 to the payload's end. Only launchers of package format 1.1 and
// later know the type; older ones pass over it.
//
// A large file is packed compressed in parts (type P, package format 1.2),
// so that extraction threads inflate its pieces side by side: the head of
// type C, s being the part's plain size and the CRC-32 its own, then at
// n + 10 the part's offset in the file and at n + 14 the whole file's
// size, and the part's zlib stream from n + 18 to the payload's end. The
// parts of a file follow each other in the order of their offsets.
const char compressed_type = 'C';
const char compressed_part_type = 'P';
const int part_place_size = 8;  // a part's offset and its file's size
// The sections that hold a file or a part of one (the installer J apart).
inline bool file_section_type(char type)
{
    return type == 'F' || type == 'B' || type == compressed_type || type == compressed_part_type;
}
enum record_form { RECORD_FORM_PLAIN, RECORD_FORM_COMPRESSED, RECORD_FORM_PART };
struct file_record {
    const char* path;  // NUL-terminated inside the record
    const unsigned char* contents;
    uint32_t size;    // plain bytes
    uint32_t stored;  // bytes at contents: size, or the compressed stream's
    uint32_t crc;     // of the plain contents; compressed records only
    uint32_t offset;  // parts: where the contents go in the file; 0 otherwise
    uint32_t whole;   // parts: the whole file's size; size otherwise
};
// False when the record breaks its own bounds: fewer than 10 bytes (18
// for a part), no NUL before offset n + 6, or n + 10 + s beyond `length`
// (for a compressed record or a part the stream takes the rest, and s is
// not bounded here; a part must lie inside its file).
bool read_record(const unsigned char* record, int32_t length, file_record* out, record_form form = RECORD_FORM_PLAIN);
// True unless the file section whose header this is holds a part of a file
// after its first: the sections that start a file, one per file.
bool section_starts_file(const unsigned char* header);
// False for a relative path that could lead outside the folder it is joined
// to: empty, absolute ("\" or "/" first), a drive letter, or a ".." component
// (also a component of dots and blanks such as "..." or ".. ", which Windows
// reads as "..").
bool record_path_safe(const char* path);
// The launcher's owner mark in every run folder, and the name it is written
// under first: no packed file may take a name that begins with the mark's.
const char* const owner_mark_name = ".glimvane-owner";
const char* const owner_mark_temp = ".glimvane-owner.new";
// The full path of a written file is at most this long.
const size_t extract_path_limit = 259;
