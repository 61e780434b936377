#include "tools/pack/compress.h"

#include "tools/pack/pack.h"
#include "tools/pack/texts.h"

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <vector>

#include <zlib.h>

bool deflate_file(const std::string& source, uint64_t offset, uint64_t size, uint64_t whole, const byte_sink& sink,
                  uint32_t& crc, uint64_t& stored, std::string& error)
{
    FILE* in = fopen(source.c_str(), "rb");
    if (!in) {
        error = format(text_cannot_read, source.c_str(), strerror(errno));
        return false;
    }
    // Packages stay below 2 GB, and so does every file in them.
    bool same = fseek(in, 0, SEEK_END) == 0 && uint64_t(ftell(in)) == whole && fseek(in, long(offset), SEEK_SET) == 0;
    if (!same) {
        fclose(in);
        error = format(text_changed, source.c_str());
        return false;
    }
    z_stream z{};
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) {
        fclose(in);
        error = format(text_cannot_read, source.c_str(), "zlib");
        return false;
    }
    std::vector<unsigned char> plain(io_buffer_size), packed(io_buffer_size);
    uLong sum = crc32(0, Z_NULL, 0);
    uint64_t read = 0;
    stored = 0;
    bool ok = true;
    for (int flush = Z_NO_FLUSH; ok && flush != Z_FINISH;) {
        size_t want = size_t(std::min<uint64_t>(plain.size(), size - read));
        size_t n = want ? fread(plain.data(), 1, want, in) : 0;
        read += n;
        flush = n < want || read == size ? Z_FINISH : Z_NO_FLUSH;
        sum = crc32(sum, plain.data(), uInt(n));
        z.next_in = plain.data();
        z.avail_in = uInt(n);
        do {
            z.next_out = packed.data();
            z.avail_out = uInt(packed.size());
            deflate(&z, flush);
            size_t made = packed.size() - z.avail_out;
            stored += made;
            ok = made == 0 || sink(packed.data(), made);
        } while (ok && z.avail_out == 0);
    }
    deflateEnd(&z);
    bool failed = ferror(in) != 0;
    fclose(in);
    if (ok && (failed || read != size)) {
        error = format(text_changed, source.c_str());
        ok = false;
    }
    crc = uint32_t(sum);
    return ok;
}

file_reader inflating_reader(file_reader compressed, uint64_t stored, uint64_t size)
{
    return [compressed, stored, size](uint64_t offset, size_t n, unsigned char* out) {
        if (offset + n > size) return false;
        z_stream z{};
        if (inflateInit(&z) != Z_OK) return false;
        std::vector<unsigned char> in(io_buffer_size), skip(io_buffer_size);
        uint64_t taken = 0, made = 0;
        int status = Z_OK;
        while (status == Z_OK && made < offset + n) {
            if (z.avail_in == 0) {
                size_t piece = size_t(std::min<uint64_t>(stored - taken, in.size()));
                if (piece == 0 || !compressed(taken, piece, in.data())) break;
                taken += piece;
                z.next_in = in.data();
                z.avail_in = uInt(piece);
            }
            // Bytes before `offset` go to a scratch buffer, the asked ones to `out`.
            bool skipping = made < offset;
            size_t room = skipping ? size_t(std::min<uint64_t>(offset - made, skip.size())) : size_t(offset + n - made);
            z.next_out = skipping ? skip.data() : out + (made - offset);
            z.avail_out = uInt(room);
            status = inflate(&z, Z_NO_FLUSH);
            made += room - z.avail_out;
            if (status == Z_BUF_ERROR && z.avail_in == 0) status = Z_OK;  // more input next round
        }
        inflateEnd(&z);
        return made >= offset + n && (status == Z_OK || status == Z_STREAM_END);
    };
}
