// Until the end-to-end tests move to the shared driver.
#ifndef KIV_TESTS_E2E_E2E_H
#define KIV_TESTS_E2E_E2E_H
#include "kivsim.h"
namespace e2e {
using Bench = kivtest::Sim;
}
#endif
