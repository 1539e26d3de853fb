// The progress line of a long import: one line on standard error, written
// again a few times a second (lines done of the total, percentage, lines per
// second), only when standard error is a terminal.
#pragma once

#include <chrono>
#include <string>

class Progress {
public:
    explicit Progress(bool enabled);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // A new step: what it does ("Lecture", "Écriture") and its total.
    void Start(const std::string& step, long long total);
    // Lines done so far in this step; shown when the last showing is old
    // enough, or at the end of the step.
    void Update(long long done);
    // A step without a count, such as the building of the indexes.
    void Say(const std::string& text);
    // Erases the line.
    void Clear();

private:
    void show(const std::string& text);

    using Clock = std::chrono::steady_clock;
    bool enabled;
    bool shown = false;
    std::string step;
    long long total = 0;
    Clock::time_point started;
    Clock::time_point last;
};

// A count with its thousands set apart by spaces: 1 234 567.
std::string Grouped(long long count);
