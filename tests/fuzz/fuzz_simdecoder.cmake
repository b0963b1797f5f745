kiv_add_fuzz(simdecoder LIBS nici)
