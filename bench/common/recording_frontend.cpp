#include "bench/common/recording_frontend.h"

namespace benchfront {

void RecordingFrontend::Finish(bool success) {
    done = true;
    ok = success;
}

void RecordingFrontend::SetError(const std::string& text) {
    error = text;
    Finish(false);
}

bool RecordingFrontend::SetErrorAsk(const std::string& text) {
    error = text;
    return false;
}

} // namespace benchfront
