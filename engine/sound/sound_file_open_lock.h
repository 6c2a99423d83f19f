// libsndfile keeps the error of a failed open in one place for the whole
// process, and every open, failed or not, overwrites it. Opens, and the
// reading of that error, hold this lock, so that renders running side by
// side each report their own file's error (another's successful open made
// it "No Error.").
#pragma once

#include <mutex>

namespace varkel::engine {

std::mutex& soundFileOpenLock();

}  // namespace varkel::engine
