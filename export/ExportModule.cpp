#include "ExportJob.h"

// The one entry of libtonelark-export.so, which ExportJob opens at the first save.
extern "C" __attribute__((visibility("default"))) void
tonelark_export_song(const tonelark::ExportRequest &request, const std::atomic<bool> &cancelled,
                     const std::function<void(double)> &progress, tonelark::ExportOutcome &outcome)
{
    outcome = tonelark::exportSong(request, cancelled, progress);
}
