kiv_add_fuzz(ll LIBS LL)
