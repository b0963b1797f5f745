kiv_add_fuzz(tables LIBS kivdebug)
