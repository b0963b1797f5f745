// Compatibility shim for the enclosure-on-simulator tests until they call
// kivtest::runTraced themselves; nothing new uses it.
#ifndef KIV_TESTS_SES_SESTEST_H
#define KIV_TESTS_SES_SESTEST_H

#include "kivtestsupport.h"

namespace sestest {
using Run = kivtest::Traced;
inline Run run(const std::function<void()>& body) { return kivtest::runTraced(body); }
}  // namespace sestest

#endif
