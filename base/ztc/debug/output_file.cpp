// File outputs: text lines or binary records appended to a file, buffered, rotated by size.
//
// The write callback runs under the output's lock (and the list lock), so the buffer, the
// size and the rotation need no lock of their own. Each call brings one whole line or record,
// which is what lets rotation keep every line whole in exactly one file.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <new>
#include <string>

#include "base/ztc/debug/opened_output.hpp"
#include "base/ztc/debug/outputs.h"

namespace ztc::debug {
namespace {

constexpr size_t kBufferSize = 8192;
// The smallest record is 48 bytes, so this many ends always suffice for a full buffer.
constexpr size_t kMaxLines = kBufferSize / DEBUG_BINARY_FIXED_SIZE + 1;
// Lines buffered longer than this are written out with the next line.
constexpr int64_t kFlushAfterMs = 1000;

int64_t coarse_ms() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int open_append(const char *path) {
    return open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
}

class ErrnoKeeper {
  public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }
    ErrnoKeeper(const ErrnoKeeper &) = delete;
    ErrnoKeeper &operator=(const ErrnoKeeper &) = delete;

  private:
    int saved_;
};

struct FileOutput : OpenedOutput {
    FileOutput() : OpenedOutput(OpenedKind::file) {}

    int fd = -1;
    std::string path;
    size_t max_bytes = 0;
    int keep = 0;
    bool regular = false; // only regular files are rotated, never a device or a pipe
    uint64_t on_disk = 0; // what this output has written to the current file
    size_t used = 0;
    size_t lines = 0;
    int64_t first_ms = 0; // when the oldest buffered line came
    FileOutput *next_file = nullptr;
    uint16_t ends[kMaxLines];
    char buffer[kBufferSize];

    void take_file(int new_fd) {
        fd = new_fd;
        struct stat st {};
        regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        on_disk = regular ? static_cast<uint64_t>(st.st_size) : 0;
    }

    // Cuts the last `partial` bytes written off the file's end, unless someone else (a forked
    // child, another process) has appended since: their lines are not this output's to cut.
    bool cut_partial_line(size_t partial) {
        const off_t end = lseek(fd, 0, SEEK_CUR); // after an appending write: the end of ours
        struct stat st {};
        return end >= static_cast<off_t>(partial) && fstat(fd, &st) == 0 && st.st_size == end &&
               ftruncate(fd, end - static_cast<off_t>(partial)) == 0;
    }

    // Writes the buffer out. Lines not wholly written are counted as dropped, and a part of
    // one is cut off again, so that the next line starts on a line of its own.
    void flush() {
        if (used == 0) return;
        ErrnoKeeper keep_errno;
        if (fd < 0) {
            const int reopened = open_append(path.c_str());
            if (reopened >= 0) take_file(reopened);
        }
        size_t done = 0;
        while (fd >= 0 && done < used) {
            const ssize_t n = write(fd, buffer + done, used - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n < 0 && errno == EINTR)
                continue;
            else
                break;
        }
        if (done < used) {
            size_t whole = 0;
            while (whole < lines && ends[whole] <= done) ++whole;
            dropped.fetch_add(lines - whole, std::memory_order_relaxed);
            const size_t kept = whole > 0 ? ends[whole - 1] : 0;
            if (done > kept && regular && !cut_partial_line(done - kept)) on_disk += done - kept;
            done = kept;
        }
        on_disk += done;
        used = 0;
        lines = 0;
    }

    std::string backup(int k) const { return k == 0 ? path : path + "." + std::to_string(k); }

    // path.<keep-1> becomes path.<keep> (the oldest goes), ..., path becomes path.1, and a
    // new path is opened. False when the current file could not be moved away or the new one
    // not opened.
    bool rotate() {
        flush();
        ErrnoKeeper keep_errno;
        // Only the backups there are move up: keep may be large, and every print waits.
        int last = 1;
        while (last < keep && access(backup(last).c_str(), F_OK) == 0) ++last;
        for (int k = last; k >= 2; --k) rename(backup(k - 1).c_str(), backup(k).c_str());
        const int moved = keep > 0 ? rename(path.c_str(), backup(1).c_str()) : unlink(path.c_str());
        if (moved != 0 && errno != ENOENT) return false;
        const int reopened = open_append(path.c_str());
        if (fd >= 0) close(fd);
        fd = -1;
        on_disk = 0;
        if (reopened < 0) return false;
        take_file(reopened);
        return true;
    }

    int write_line(const void *bytes, size_t len) {
        if (len > kBufferSize) {
            dropped.fetch_add(1, std::memory_order_relaxed);
            return 0;
        }
        const uint64_t size = on_disk + used;
        if (max_bytes > 0 && regular && size > 0 && size + len > max_bytes && !rotate()) {
            dropped.fetch_add(1, std::memory_order_relaxed);
            return 0;
        }
        if (used + len > kBufferSize || lines == kMaxLines) flush();
        memcpy(buffer + used, bytes, len);
        used += len;
        ends[lines++] = static_cast<uint16_t>(used);
        const int64_t now = coarse_ms();
        if (lines == 1)
            first_ms = now;
        else if (now - first_ms >= kFlushAfterMs)
            flush();
        return static_cast<int>(len);
    }
};

// Every open file output, linked under the list lock.
FileOutput *files = nullptr;

pthread_mutex_t *output_lock(debug_output_t *output) {
    return output->type == DEBUG_OUTPUT_TEXT ? &output->u.text.lock : &output->u.binary.lock;
}

FileOutput *file_of(const debug_output_t *output) {
    OpenedOutput *opened = opened_of(output);
    return opened != nullptr && opened->kind == OpenedKind::file ? static_cast<FileOutput *>(opened)
                                                                 : nullptr;
}

// In the one lock order: the list lock, then the output's.
void flush_locked(FileOutput *file) {
    LockGuard guard(output_lock(&file->record));
    file->flush();
}

} // namespace

int file_write(intptr_t user, const void *bytes, size_t len) {
    return reinterpret_cast<FileOutput *>(user)->write_line(bytes, len);
}

void flush_if_file(debug_output_t *output) {
    FileOutput *file = file_of(output);
    // From inside a delivery to it, this thread already holds its lock.
    if (file == nullptr || busy_in_this_thread(output)) return;
    LockGuard list(&debug_output_list_lock);
    flush_locked(file);
}

void flush_all_files() {
    LockGuard list(&debug_output_list_lock);
    for (FileOutput *f = files; f != nullptr; f = f->next_file)
        if (!busy_in_this_thread(&f->record)) flush_locked(f);
}

void flush_files_at_exit() {
    // Another thread may be inside a print for a moment; one stuck inside a delivery holds
    // the list for good, and exit goes on without these lines after a second.
    struct timespec deadline {};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += 1;
    if (pthread_mutex_timedlock(&debug_output_list_lock, &deadline) != 0) return;
    for (FileOutput *f = files; f != nullptr; f = f->next_file)
        if (!busy_in_this_thread(&f->record)) flush_locked(f);
    pthread_mutex_unlock(&debug_output_list_lock);
}

void drop_file_buffers_in_child() {
    for (FileOutput *f = files; f != nullptr; f = f->next_file) {
        f->used = 0;
        f->lines = 0;
    }
}

void release_file(OpenedOutput *opened) {
    auto *file = static_cast<FileOutput *>(opened);
    {
        LockGuard list(&debug_output_list_lock);
        flush_locked(file);
        for (FileOutput **link = &files; *link != nullptr; link = &(*link)->next_file) {
            if (*link == file) {
                *link = file->next_file;
                break;
            }
        }
    }
    if (file->fd >= 0) close(file->fd);
    pthread_mutex_destroy(output_lock(&file->record));
    delete file;
}

} // namespace ztc::debug

using namespace ztc::debug;

extern "C" debug_output_t *debug_output_open_file(const char *name, const char *path, int type,
                                                  size_t max_bytes, int keep) {
    if (path == nullptr || keep < 0 || (type != DEBUG_OUTPUT_TEXT && type != DEBUG_OUTPUT_BINARY)) {
        errno = EINVAL;
        return nullptr;
    }
    auto *file = new (std::nothrow) FileOutput;
    if (file == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    const int fd = open_append(path);
    if (fd < 0) {
        const int error = errno;
        delete file;
        errno = error;
        return nullptr;
    }
    file->path = path;
    file->max_bytes = max_bytes;
    file->keep = keep;
    file->take_file(fd);
    const auto user = reinterpret_cast<intptr_t>(file);
    if (type == DEBUG_OUTPUT_TEXT)
        debug_output_init_text(&file->record, name, nullptr, file_write, user);
    else
        debug_output_init_binary(&file->record, name, file_write, user);
    LockGuard list(&debug_output_list_lock);
    file->next_file = files;
    files = file;
    debug_output_add(&file->record);
    return &file->record;
}

extern "C" error_code_t debug_output_reopen(debug_output_t *output) {
    FileOutput *file = file_of(output);
    if (file == nullptr) return ERROR_INVALID_ARGUMENT;
    if (busy_in_this_thread(output)) return ERROR_IN_USE;
    LockGuard list(&debug_output_list_lock);
    LockGuard guard(output_lock(output));
    file->flush();
    const int fd = open_append(file->path.c_str());
    if (fd < 0) return ERROR_IO;
    if (file->fd >= 0) close(file->fd);
    file->take_file(fd);
    return ERROR_SUCCESS;
}

extern "C" void debug_output_flush(debug_output_t *output) {
    if (output == nullptr)
        flush_all_files();
    else
        flush_if_file(output);
}
