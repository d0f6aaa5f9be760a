#include "analysis/free_text_run.h"

#include <string>

#include "analysis/analysis.h"

namespace ipcountry::analysis {

RunResult runFreeTextScan(const std::string& path, AnalysisContext& context) {
    FreeTextLines lines(context.table, context.ranges, context.ranges6, context.rows);
    return runLines(path, context, lines, RunError::AsMessage);
}

}  // namespace ipcountry::analysis
