// Compressed file sections: the zlib streams the packer writes for
// --compress, and their reading for inspect.
#pragma once

#include "tools/pack/jar.h"

#include <cstdint>
#include <functional>
#include <string>

// Receives the compressed bytes in pieces; false stops the stream.
using byte_sink = std::function<bool(const unsigned char* data, size_t n)>;

// Deflates the `size` bytes at `offset` of the file `source` (`whole`
// bytes long) into `sink`, read through a buffer of io_buffer_size; the
// CRC-32 of the plain bytes and the number of compressed bytes come back.
// The same bytes give the same stream every time. False with the reason in
// `error`; a file of another length than `whole` has changed since it was
// planned.
bool deflate_file(const std::string& source, uint64_t offset, uint64_t size, uint64_t whole, const byte_sink& sink,
                  uint32_t& crc, uint64_t& stored, std::string& error);

// A reader of the plain contents of a zlib stream of `stored` bytes, which
// `compressed` reads: each read inflates from the stream's start, so that
// no more than a buffer is held. The plain bytes are checked against
// `size`: a read past them, or from a damaged stream, fails.
file_reader inflating_reader(file_reader compressed, uint64_t stored, uint64_t size);
