#pragma once

#include <QString>

#include <cstdint>

namespace ipcountry::ui {

// What the progress dialog shows for how far a run has read. A file of known
// size fills a bar; a pipe, a device or standard input has no size, so the bar
// only says that the run is busy and the text says how much has been read.
struct ProgressView {
    static constexpr int kSteps = 1000;

    int maximum = kSteps;  // 0: no known size, a busy bar
    // Every update of a busy bar gets a new value: the dialog only lets the
    // window take a Cancel click when its value changes.
    int value = 0;
    QString bytesText;  // "12.5 MB read", for a busy bar only
};

// `tick` counts the updates of the run (1 for the first).
ProgressView progressView(std::uint64_t bytesRead, std::uint64_t bytesTotal, int tick);

}  // namespace ipcountry::ui
