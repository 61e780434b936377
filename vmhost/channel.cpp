#include "vmhost/channel.h"

#include "support/track.h"

#include <cstdio>
#include <cstring>

namespace {

const size_t name_size = 256;
// How long a server that has its block may take to make the rest.
const int start_wait_ms = 1000;
// How often a waiting client looks whether the server still lives.
const int alive_check_ms = 250;

const char* const sync_formats[] = {os_lock_name_format, os_start_event_name_format, os_end_event_name_format,
                                    os_client_lock_name_format};

void name_of(const char* format, const char* id, char* buf)
{
    snprintf(buf, name_size, format, id);
}

// A client's view of a channel: the objects it opened and the locks it
// holds, let go when the request ends, however it ends.
struct channel_client {
    char block_name[name_size];
    os_sync* lock;
    os_sync* start;
    os_sync* end;
    os_sync* clients;
    bool holds_lock, holds_turn;
};

bool open_objects(channel_client& c, const char* id)
{
    char name[name_size];
    os_sync** objects[] = {&c.lock, &c.start, &c.end, &c.clients};
    bool all = true;
    for (int i = 0; i < 4; i++) {
        if (*objects[i]) continue;
        name_of(sync_formats[i], id, name);
        *objects[i] = i == 0 || i == 3 ? os_lock_open(name) : os_event_open(name);
        all = all && *objects[i];
    }
    return all;
}

// `live` while the server that made the block runs; why not otherwise.
channel_result server_state(const char* block_name, channel_result live)
{
    switch (os_shared_state_of(block_name)) {
    case OS_SHARED_LIVE:
        return live;
    case OS_SHARED_ENDED:
        return CHANNEL_ENDED;
    default:
        return CHANNEL_KILLED;
    }
}

// Waits for the lock or event while the server lives, at most `wait_ms`;
// `late` when the time ran out.
channel_result wait_live(os_sync* object, const char* block_name, int wait_ms, channel_result late)
{
    for (int waited = 0;; waited += alive_check_ms) {
        if (os_sync_wait(object, alive_check_ms)) return CHANNEL_REPLIED;
        channel_result state = server_state(block_name, late);
        if (state != late || waited + alive_check_ms >= wait_ms) return state;
    }
}

// The block is held only for the copy: a Windows server's end would go
// unseen while a client holds its block.
bool copy_block(const char* block_name, size_t size, size_t offset, void* data, size_t length, bool write)
{
    os_shared* block = os_shared_open(block_name, size);
    if (!block) return false;
    bool copied = write ? os_shared_write(block, offset, data, length) : os_shared_read(block, offset, data, length);
    os_shared_close(block);
    return copied;
}

channel_result finish(channel_client& c, channel_result result)
{
    if (c.holds_lock) os_lock_release(c.lock);
    if (c.holds_turn) os_lock_release(c.clients);
    return result;
}

}  // namespace

void channel_block_name(const char* id, char* buf, size_t buf_size)
{
    snprintf(buf, buf_size, os_shared_name_format, id);
}

bool channel_create(const char* id, size_t size, channel_server* server, bool* existed)
{
    char name[name_size];
    *server = {};
    server->size = size;
    channel_block_name(id, name, sizeof name);
    server->block = os_shared_create(name, size, existed);
    if (!server->block) return false;
    os_sync** objects[] = {&server->lock, &server->start, &server->end, &server->clients};
    for (int i = 0; i < 4; i++) {
        name_of(sync_formats[i], id, name);
        *objects[i] = i == 0 || i == 3 ? os_lock_create(name) : os_event_create(name);
        if (!*objects[i]) return false;
    }
    return true;
}

void channel_serve(channel_server* server, size_t reply_offset, void (*handle)(char* copy))
{
    // One request at a time, carried out on a private copy of the block.
    auto* copy = static_cast<char*>(track_alloc(int32_t(server->size)));
    for (;;) {
        if (!os_sync_wait(server->start, -1) || !os_sync_wait(server->lock, -1)) return;
        if (!os_shared_read(server->block, 0, copy, reply_offset)) memset(copy, 0, reply_offset);
        copy[reply_offset] = 0;
        handle(copy);
        const char* reply = copy + reply_offset;
        os_shared_write(server->block, reply_offset, reply, strnlen(reply, server->size - reply_offset - 1) + 1);
        // The end is set while the lock is still held: a client that holds
        // the lock next finds every earlier end already set, and clears it.
        os_event_set(server->end);
        os_lock_release(server->lock);
    }
}

channel_result channel_ask(const char* id, size_t size, size_t reply_offset, const void* request, size_t length,
                           int turn_wait_ms, int wait_ms, char* reply, size_t reply_size)
{
    channel_client c{};
    reply[0] = 0;
    channel_block_name(id, c.block_name, sizeof c.block_name);
    char probe;
    if (!copy_block(c.block_name, size, 0, &probe, 1, false)) return CHANNEL_NONE;
    // A server makes its block first, then the rest.
    for (int waited = 0; !open_objects(c, id); waited += 10) {
        channel_result state = server_state(c.block_name, CHANNEL_NONE);
        if (state != CHANNEL_NONE || waited >= start_wait_ms) return state;
        os_sleep_ms(10);
    }
    channel_result state = server_state(c.block_name, CHANNEL_REPLIED);
    if (state != CHANNEL_REPLIED) return state;

    if ((state = wait_live(c.clients, c.block_name, turn_wait_ms, CHANNEL_BUSY)) != CHANNEL_REPLIED) return state;
    c.holds_turn = true;
    if ((state = wait_live(c.lock, c.block_name, wait_ms, CHANNEL_NO_ANSWER)) != CHANNEL_REPLIED)
        return finish(c, state);
    c.holds_lock = true;
    // The server sets its end before it lets the lock go: an end that a
    // client who gave up did not take is set by now, and cleared here.
    os_sync_wait(c.end, 0);
    bool written = copy_block(c.block_name, size, 0, const_cast<void*>(request), length, true);
    os_lock_release(c.lock);
    c.holds_lock = false;
    if (!written) return finish(c, server_state(c.block_name, CHANNEL_NONE));
    os_event_set(c.start);
    if ((state = wait_live(c.end, c.block_name, wait_ms, CHANNEL_NO_ANSWER)) != CHANNEL_REPLIED) {
        // Taken back while the server has not seen it, so that it never
        // answers this request to the next client.
        os_sync_wait(c.start, 0);
        return finish(c, state);
    }
    if ((state = wait_live(c.lock, c.block_name, wait_ms, CHANNEL_NO_ANSWER)) != CHANNEL_REPLIED)
        return finish(c, state);
    c.holds_lock = true;
    size_t room = size - reply_offset < reply_size ? size - reply_offset : reply_size;
    if (!copy_block(c.block_name, size, reply_offset, reply, room, false)) {
        reply[0] = 0;
        return finish(c, server_state(c.block_name, CHANNEL_NONE));
    }
    reply[room - 1] = 0;
    return finish(c, CHANNEL_REPLIED);
}

void channel_remove_leftovers(const char* id)
{
    // The block goes last: until its name is gone no new server of the
    // channel can begin, so none of its fresh objects is removed here.
    char name[name_size];
    for (const char* format : sync_formats) {
        name_of(format, id, name);
        os_sync_remove(name);
    }
    channel_block_name(id, name, sizeof name);
    os_shared_remove(name);
}
