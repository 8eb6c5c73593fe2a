// Journal outputs: each print as one datagram of the journal's native protocol.
//
// Fields are "NAME=value\n"; a value holding a newline is "NAME\n", its length as 64-bit
// little-endian, the value and "\n". The socket never blocks: a print the journal cannot take
// at once is dropped and counted.
#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <charconv>
#include <new>

#include "base/ztc/debug/opened_output.hpp"
#include "base/ztc/debug/outputs.h"

namespace ztc::debug {
namespace {
constexpr char kSystemJournal[] = "/run/systemd/journal/socket";
// Every value but the message and the thread name is cut to this, so a datagram always fits.
constexpr size_t kValueMax = 1024;
constexpr size_t kDatagramSize = 8192;

struct JournalOutput : OpenedOutput {
    JournalOutput() : OpenedOutput(OpenedKind::journal) {}
    int fd = -1;
    struct sockaddr_un address {};
    socklen_t address_len = 0;
};

class Datagram {
  public:
    void field(const char *name, const char *value, size_t max = kValueMax) {
        value = value != nullptr ? value : "";
        const size_t len = strnlen(value, max);
        put(name, strlen(name));
        if (memchr(value, '\n', len) == nullptr) {
            put("=", 1);
        } else {
            put("\n", 1);
            uint8_t size[8];
            for (int i = 0; i < 8; ++i) size[i] = static_cast<uint8_t>(uint64_t{len} >> (8 * i));
            put(size, sizeof size);
        }
        put(value, len);
        put("\n", 1);
    }
    void field(const char *name, long long value) {
        char text[24];
        *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
        field(name, text);
    }
    const char *data() const { return bytes_; }
    size_t size() const { return used_; }
    bool fits() const { return fits_; }

  private:
    void put(const void *p, size_t n) {
        if (n > sizeof bytes_ - used_) {
            fits_ = false;
            return;
        }
        memcpy(bytes_ + used_, p, n);
        used_ += n;
    }
    char bytes_[kDatagramSize];
    size_t used_ = 0;
    bool fits_ = true;
};
} // namespace

void journal_deliver(intptr_t user, int thread_num, const char *thread_name, const struct timeval *,
                     const char *, int module, int level, const char *file, int line,
                     const char *function, const char *message) {
    auto *out = reinterpret_cast<JournalOutput *>(user);
    const int saved_errno = errno;
    Datagram d;
    d.field("MESSAGE", message, DEBUG_BUFFER_SIZE);
    d.field("PRIORITY", syslog_priority(level));
    d.field("CODE_FILE", file);
    d.field("CODE_LINE", line);
    d.field("CODE_FUNC", function);
    d.field("SYSLOG_IDENTIFIER", program_invocation_short_name);
    d.field("TID", static_cast<long long>(gettid()));
    d.field("ZTC_MODULE", module_in_range(module) ? debug_type_strings[module] : "");
    d.field("ZTC_THREAD_NUM", thread_num);
    d.field("ZTC_THREAD_NAME", thread_name, DEBUG_THREAD_NAME_SIZE);
    if (!d.fits() ||
        sendto(out->fd, d.data(), d.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
               reinterpret_cast<const struct sockaddr *>(&out->address), out->address_len) < 0)
        out->dropped.fetch_add(1, std::memory_order_relaxed);
    errno = saved_errno;
}

void release_journal(OpenedOutput *opened) {
    auto *out = static_cast<JournalOutput *>(opened);
    if (out->fd >= 0) close(out->fd);
    delete out;
}

} // namespace ztc::debug

using namespace ztc::debug;

extern "C" debug_output_t *debug_output_open_journal(const char *name, const char *socket_path) {
    const char *path = socket_path != nullptr ? socket_path : kSystemJournal;
    auto *out = new (std::nothrow) JournalOutput;
    if (out == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    const size_t len = strlen(path);
    if (len == 0 || len >= sizeof out->address.sun_path) {
        delete out;
        errno = len == 0 ? EINVAL : ENAMETOOLONG;
        return nullptr;
    }
    out->address.sun_family = AF_UNIX;
    memcpy(out->address.sun_path, path, len + 1);
    out->address_len = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + len + 1);
    // Sent to by address each time: a journal that starts later is reached then.
    out->fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (out->fd < 0) {
        const int error = errno;
        delete out;
        errno = error;
        return nullptr;
    }
    debug_output_init_external(&out->record, name, journal_deliver,
                               reinterpret_cast<intptr_t>(out));
    debug_output_add(&out->record);
    return &out->record;
}
