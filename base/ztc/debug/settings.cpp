// Settings texts ("info,io=debug") for the standard-error output's levels, and the
// environment's settings applied at start-up.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <iterator>
#include <string_view>

#include "base/ztc/debug/debug_internal.hpp"
#include "base/ztc/debug/outputs.h"
#include "base/ztc/extensions/startup.hpp"

namespace {

// The names settings texts give levels, by level; the tools show them too.
constexpr const char *kLevelNames[] = {"off",   "error", "warn",  "info",  "debug",
                                       nullptr, nullptr, nullptr, nullptr, "trace"};

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool same_ignoring_case(std::string_view a, const char *b) {
    return b != nullptr && strlen(b) == a.size() && strncasecmp(a.data(), b, a.size()) == 0;
}

// A digit 0 to 9 or a level's name, in any case; -1 when it is neither.
int parse_level(std::string_view text) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '9') return text[0] - '0';
    for (int level = 0; level < static_cast<int>(std::size(kLevelNames)); ++level)
        if (same_ignoring_case(text, kLevelNames[level])) return level;
    return -1;
}

int parse_module(std::string_view name) {
    for (int m = 0; m < DEBUG_MODULE_COUNT; ++m)
        if (same_ignoring_case(name, debug_type_strings[m])) return m;
    return -1;
}

// Applies the items to levels from left to right; the first wrong item (a view into the
// settings, possibly empty), or a view without data when all are right.
std::string_view apply(std::string_view settings, int (&levels)[DEBUG_MODULE_COUNT]) {
    while (true) {
        const size_t comma = settings.find(',');
        const std::string_view item = settings.substr(0, comma);
        const size_t equals = item.find('=');
        const int level = parse_level(trim(item.substr(equals == item.npos ? 0 : equals + 1)));
        if (level < 0) return item;
        if (equals == item.npos) {
            for (int &l : levels) l = level;
        } else {
            const int module = parse_module(trim(item.substr(0, equals)));
            if (module < 0) return item;
            levels[module] = level;
        }
        if (comma == settings.npos) return {};
        settings.remove_prefix(comma + 1);
    }
}

// The wrong item, when there is one; nothing changes then.
std::string_view configure(const char *settings) {
    int levels[DEBUG_MODULE_COUNT];
    pthread_mutex_lock(&debug_output_list_lock);
    for (int m = 0; m < DEBUG_MODULE_COUNT; ++m)
        levels[m] = ztc::debug::output_level(&debug_output_stderr, m);
    const std::string_view wrong = apply(settings, levels);
    if (wrong.data() == nullptr) {
        int highest = levels[0];
        for (int m = 0; m < DEBUG_MODULE_COUNT; ++m) {
            __atomic_store_n(&debug_output_stderr.levels[m], levels[m], __ATOMIC_RELAXED);
            if (levels[m] > highest) highest = levels[m];
        }
        __atomic_store_n(&debug_max_runtime_level, highest, __ATOMIC_RELAXED);
    }
    pthread_mutex_unlock(&debug_output_list_lock);
    return wrong;
}

void say(const char *line) {
    // Nothing more can be done when standard error is gone.
    [[maybe_unused]] ssize_t n = write(STDERR_FILENO, line, strlen(line));
}

} // namespace

extern "C" const char *debug_level_name(int level) {
    return level >= 0 && level < static_cast<int>(std::size(kLevelNames)) ? kLevelNames[level]
                                                                          : nullptr;
}

extern "C" error_code_t debug_configure(const char *settings) {
    if (settings == nullptr) return ERROR_INVALID_ARGUMENT;
    if (settings[0] == '\0') return ERROR_SUCCESS;
    return configure(settings).data() == nullptr ? ERROR_SUCCESS : ERROR_INVALID_ARGUMENT;
}

namespace ztc::startup {
// Read with secure_getenv: a set-user-id program does not take them from its caller.
void apply_environment() {
    if (const char *settings = secure_getenv("ZTC_DEBUG"); settings != nullptr && *settings) {
        const std::string_view wrong = configure(settings);
        if (wrong.data() != nullptr) {
            char line[256];
            snprintf(line, sizeof line, "ZTC_DEBUG: wrong item \"%.*s\", settings not applied\n",
                     static_cast<int>(wrong.size() < 160 ? wrong.size() : 160), wrong.data());
            say(line);
        }
    }
    if (const char *path = secure_getenv("ZTC_DEBUG_FILE"); path != nullptr && *path) {
        debug_output_t *file =
            debug_output_open_file("ZTC_DEBUG_FILE", path, DEBUG_OUTPUT_TEXT, 0, 0);
        if (file == nullptr) {
            char line[512];
            snprintf(line, sizeof line, "ZTC_DEBUG_FILE: cannot open \"%.400s\": %s\n", path,
                     strerror(errno));
            say(line);
            return;
        }
        for (int m = 0; m < DEBUG_MODULE_COUNT; ++m)
            __atomic_store_n(&file->levels[m], ztc::debug::output_level(&debug_output_stderr, m),
                             __ATOMIC_RELAXED);
    }
}
} // namespace ztc::startup
