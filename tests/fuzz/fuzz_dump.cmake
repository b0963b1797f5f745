kiv_add_fuzz(dump LIBS kivdebug)
