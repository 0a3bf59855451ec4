// The C API: one process-wide tracer holding the level table, the output and the capture.

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <string>

#include <zebtrace/zebtrace.h>

#include "level_config.h"
#include "level_table.h"
#include "line_format.h"
#include "output_sink.h"

namespace zebtrace {
namespace {

struct Tracer {
    // Recursive: a capture callback may itself trace while the lock is held.
    std::recursive_mutex lock;
    LevelTable levels;
    // Mirror of levels.ceiling() readable without the lock, for the cheap drop.
    std::atomic<int> ceiling{TRACE_LEVEL_INFO};
    OutputSink output;
    zebtrace_capture_fn_t capture = nullptr;
    void* capture_priv = nullptr;
    bool quiet = false;

    void publish_ceiling() { ceiling.store(levels.ceiling(), std::memory_order_relaxed); }
};

// Never destroyed: services may still trace from their own static destructors.
Tracer& tracer() {
    static Tracer* const instance = new Tracer();
    return *instance;
}

std::string_view text_or_empty(const char* text) { return text == nullptr ? std::string_view() : text; }

bool enabled(int level, std::string_view zone) {
    Tracer& t = tracer();
    if (level > t.ceiling.load(std::memory_order_relaxed)) return false;
    std::lock_guard guard(t.lock);
    return level <= t.levels.level_of(zone);
}

void emit(int level, std::string_view zone, const std::string& line) {
    Tracer& t = tracer();
    std::lock_guard guard(t.lock);
    if (!t.quiet) t.output.write(level, line);
    if (t.capture != nullptr) {
        const std::string zone_text(zone);
        t.capture(level, zone_text.c_str(), line.c_str(), t.capture_priv);
    }
}

void write_arrows(std::string_view arrows, const char* zone, const char* function, const char* file, int line) {
    try {
        if (!enabled(TRACE_LEVEL_DEBUG, text_or_empty(zone))) return;
        const SourcePlace place{text_or_empty(function), text_or_empty(file), line};
        emit(TRACE_LEVEL_DEBUG, text_or_empty(zone), format_arrow_line(text_or_empty(zone), arrows, place));
    } catch (...) {
        // Out of memory: the line is lost, the caller goes on.
    }
}

}  // namespace
}  // namespace zebtrace

using zebtrace::tracer;

extern "C" {

bool zebtrace_is_enabled(int level, const char* zone) {
    try {
        return zebtrace::enabled(level, zebtrace::text_or_empty(zone));
    } catch (...) {
        return false;
    }
}

void zebtrace_write(int level, const char* zone, const char* function, const char* file, int line,
                    const char* format, ...) {
    const std::string_view zone_text = zebtrace::text_or_empty(zone);
    if (!zebtrace_is_enabled(level, zone)) return;
    va_list args;
    va_start(args, format);
    try {
        const std::string message = zebtrace::format_message(format, args);
        const zebtrace::SourcePlace place{zebtrace::text_or_empty(function), zebtrace::text_or_empty(file), line};
        zebtrace::emit(level, zone_text, zebtrace::format_line(level, zone_text, message, place));
    } catch (...) {
        // Out of memory: the line is lost, the caller goes on.
    }
    va_end(args);
}

void zebtrace_write_enter(const char* zone, const char* function, const char* file, int line) {
    zebtrace::write_arrows(">>>>>>>>>>", zone, function, file, line);
}

void zebtrace_write_exit(const char* zone, const char* function, const char* file, int line) {
    zebtrace::write_arrows("<<<<<<<<<<", zone, function, file, line);
}

int zebtrace_set_level(const char* zone, int level) {
    auto& t = tracer();
    std::lock_guard guard(t.lock);
    try {
        if (zone == nullptr) {
            t.levels.set_default(level);
        } else {
            t.levels.set_zone(zone, level);
        }
    } catch (...) {
        return -1;
    }
    t.publish_ceiling();
    return 0;
}

int zebtrace_get_level(const char* zone) {
    auto& t = tracer();
    std::lock_guard guard(t.lock);
    return zone == nullptr ? t.levels.default_level() : t.levels.level_of(zone);
}

void zebtrace_clear_level(const char* zone) {
    if (zone == nullptr) return;
    auto& t = tracer();
    std::lock_guard guard(t.lock);
    t.levels.clear_zone(zone);
    t.publish_ceiling();
}

}  // extern "C"

namespace zebtrace {
namespace {

int configure(const char* levels, bool from_scratch) {
    if (levels == nullptr) return -1;
    auto& t = tracer();
    try {
        const auto settings = parse_level_config(levels);
        if (!settings) return -1;
        // Applied on a copy so that running out of memory half-way changes nothing.
        std::lock_guard guard(t.lock);
        LevelTable updated = from_scratch ? LevelTable() : t.levels;
        for (const auto& setting : *settings) {
            if (setting.is_default) {
                updated.set_default(setting.level);
            } else {
                updated.set_zone(setting.zone, setting.level);
            }
        }
        t.levels = std::move(updated);
        t.publish_ceiling();
    } catch (...) {
        return -1;
    }
    return 0;
}

}  // namespace
}  // namespace zebtrace

extern "C" {

int zebtrace_configure(const char* levels) { return zebtrace::configure(levels, false); }

int zebtrace_reconfigure(const char* levels) { return zebtrace::configure(levels, true); }

bool zebtrace_stderr_is_journal(void) {
    auto& t = tracer();
    std::lock_guard guard(t.lock);
    return t.output.stderr_is_journal();
}

int zebtrace_open_syslog(const char* ident) {
    auto& t = tracer();
    std::lock_guard guard(t.lock);
    try {
        t.output.open_syslog(ident);
    } catch (...) {
        return -1;
    }
    return 0;
}

int zebtrace_open_file(const char* path) {
    auto& t = tracer();
    std::lock_guard guard(t.lock);
    return t.output.open_file(path) ? 0 : -1;
}

void zebtrace_use_stderr(void) {
    auto& t = tracer();
    std::lock_guard guard(t.lock);
    t.output.use_stderr();
}

void zebtrace_set_capture(zebtrace_capture_fn_t fn, void* priv) {
    auto& t = tracer();
    std::lock_guard guard(t.lock);
    t.capture = fn;
    t.capture_priv = priv;
}

void zebtrace_set_quiet(bool quiet) {
    auto& t = tracer();
    std::lock_guard guard(t.lock);
    t.quiet = quiet;
}

void zebtrace_reset(void) {
    auto& t = tracer();
    std::lock_guard guard(t.lock);
    t.levels = zebtrace::LevelTable();
    t.publish_ceiling();
    t.output.use_stderr();
    t.capture = nullptr;
    t.capture_priv = nullptr;
    t.quiet = false;
}

}  // extern "C"
