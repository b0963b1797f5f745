kiv_add_fuzz(ses LIBS kivses nici_fake)
