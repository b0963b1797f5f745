// Enclosure services: SES diagnostic pages of a device named by its serial
// number, with retries and firmware download.
#ifndef KIV_SES_KIVSES_H
#define KIV_SES_KIVSES_H

#include <cstdint>

#endif
