#include "ui/progress_view.h"

#include <algorithm>

namespace ipcountry::ui {

ProgressView progressView(std::uint64_t bytesRead, std::uint64_t bytesTotal, int tick) {
    ProgressView view;
    if (bytesTotal == 0) {
        view.maximum = 0;
        view.value = std::max(tick, 1);
        view.bytesText =
            QStringLiteral("%1 MB read").arg(static_cast<double>(bytesRead) / (1 << 20), 0, 'f', 1);
        return view;
    }
    // A file that grew since it was opened stays just short of the end, which
    // the run's own end shows.
    const std::uint64_t done = std::min(bytesRead, bytesTotal);
    view.value = static_cast<int>(std::min<std::uint64_t>(done * ProgressView::kSteps / bytesTotal,
                                                          ProgressView::kSteps - 1));
    return view;
}

}  // namespace ipcountry::ui
