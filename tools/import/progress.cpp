#include "progress.h"

#include <cstdio>

namespace {

// At most this many showings a second.
constexpr auto kInterval = std::chrono::milliseconds(250);

} // namespace

std::string Grouped(long long count) {
    std::string digits = std::to_string(count < 0 ? -count : count);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ' ';
        out += digits[i];
    }
    return count < 0 ? "-" + out : out;
}

Progress::Progress(bool enabled)
    : enabled(enabled) {}

Progress::~Progress() {
    Clear();
}

void Progress::Start(const std::string& name, long long all) {
    step = name;
    total = all;
    started = Clock::now();
    last = Clock::time_point();
    Update(0);
}

void Progress::Update(long long done) {
    if (!enabled)
        return;
    const auto now = Clock::now();
    if (done < total && now - last < kInterval)
        return;
    last = now;
    const double seconds = std::chrono::duration<double>(now - started).count();
    std::string text = step + " : " + Grouped(done) + " / " + Grouped(total) + " lignes (" +
                       std::to_string(total > 0 ? done * 100 / total : 100) + " %)";
    if (seconds > 0.05)
        text += ", " + Grouped(static_cast<long long>(static_cast<double>(done) / seconds)) +
                " lignes/s";
    show(text);
}

void Progress::Say(const std::string& text) {
    if (enabled)
        show(text);
}

void Progress::Clear() {
    if (!enabled || !shown)
        return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    shown = false;
}

void Progress::show(const std::string& text) {
    // Back to the start of the line, the text, the rest of the line erased.
    std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
    std::fflush(stderr);
    shown = true;
}
