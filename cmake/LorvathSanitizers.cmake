# LORVATH_SANITIZE (e.g. "address,undefined" or "thread") applies to every target.
if(LORVATH_SANITIZE)
  add_compile_options(-fsanitize=${LORVATH_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${LORVATH_SANITIZE})
endif()
