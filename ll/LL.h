#ifndef KIV_LL_LL_H
#define KIV_LL_LL_H
#endif
